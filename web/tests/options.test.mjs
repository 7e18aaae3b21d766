// The page's reading of command-line options (web/options.js), without a
// browser. The byte comparisons with the command line in page.test.mjs check
// the whole mapping; these cases pin the reading rules those runs do not
// reach.
import assert from 'node:assert/strict';
import {
  emptySlots, parseArgs, splitArgs, readDecimal, stretchFlags, engineOptions, engineSeed,
  colourToHex, hexToColour, namesPatternImage,
} from '../options.js';

// Index of an entry in the engine's options array (RdsgenOption in api.cpp).
const O = { PatT: 0, PSiz: 1, inStripes: 2, given: 3, PUse: 4, TopF: 8, BotB: 11, StretA: 12, StretX: 13, StretR: 15, StretP: 16, StretZ: 17, NoRD: 18, Double: 24 };

export default function register(test) {
  test('options: numbers are read as the command line reads them', () => {
    const cases = [
      ['42', 42], ['  -7x', -7], ['+0012', 12], ['abc', 0], ['>', 0], ['', 0],
      ['2147483647', 2147483647], ['2147483648', 2147483647], ['-2147483648', -2147483648],
      ['-99999999999999999999', -2147483648], ['00000000000000000000009', 9], ['--1', 0],
    ];
    for (const [text, value] of cases) assert.equal(readDecimal(text), value, text);
    // The seed goes to srand as an unsigned number.
    assert.equal(engineSeed(-1), 4294967295);
  });

  test('options: names ignore case, match by prefix, and flags match whole', () => {
    const slots = emptySlots();
    assert.deepEqual(parseArgs(['/patt:5', '-DENS:60', '/nord', '/PSiz:S9', '/PUse:', '/TopF:001002003'], slots), []);
    assert.equal(slots.PatT, '5');
    assert.equal(slots.Dens, '60');
    assert.equal(slots.NoRD, '>');
    assert.equal(slots.PSizS, '9');
    assert.equal(slots.PUse, '>');  // an empty value
    // Later options win; "!" empties a slot again.
    parseArgs(['/PatT:2', '!NoRD', '!Dens'], slots);
    assert.equal(slots.PatT, '2');
    assert.equal(slots.NoRD, '');
    assert.equal(slots.Dens, '');
    // The value keeps its case: /PSiz:p12 is no option; a flag with more letters neither.
    const errors = parseArgs(['/PSiz:p12', '/NoRDx', '/Density:3', 'file.tga', '/PSiz:12'], slots);
    assert.equal(errors.length, 5);
    assert.equal(slots.PSizP, '');
  });

  test('options: arguments split at blanks, quotes group them', () => {
    assert.deepEqual(splitArgs(' /PatT:3\t/Rand:5\n'), ['/PatT:3', '/Rand:5']);
    assert.deepEqual(splitArgs('/PatT:"my pattern.tga" "/Dens:4"'), ['/PatT:my pattern.tga', '/Dens:4']);
  });

  test('options: stretch letters and their conflicts', () => {
    assert.deepEqual(stretchFlags('').flags, { A: 1, X: 0, Y: 0, R: 0, P: 0, Z: 0 });
    assert.deepEqual(stretchFlags('>').flags, { A: 0, X: 0, Y: 0, R: 0, P: 0, Z: 0 });
    assert.equal(stretchFlags('>').warnings.length, 0);
    assert.deepEqual(stretchFlags('xrz').flags, { A: 0, X: 1, Y: 0, R: 1, P: 0, Z: 1 });
    // X with P loses X, and then R has no X to go with.
    const xpr = stretchFlags('XPR');
    assert.deepEqual(xpr.flags, { A: 0, X: 0, Y: 0, R: 0, P: 1, Z: 0 });
    assert.equal(xpr.warnings.length, 2);
    assert.deepEqual(stretchFlags('XYR').flags, { A: 0, X: 1, Y: 1, R: 0, P: 0, Z: 0 });
    const unknown = stretchFlags('AQQ');
    assert.equal(unknown.flags.A, 1);
    assert.match(unknown.warnings[0], /'QQ'/);
  });

  test('options: slots become the engine options as the command line makes its settings', () => {
    const defaults = engineOptions(emptySlots());
    assert.equal(defaults.options[O.PSiz], 68);
    assert.equal(defaults.options[O.given], 0);
    assert.equal(defaults.options[O.StretA], 1);
    assert.equal(defaults.options[O.TopF], 255248000);
    assert.equal(defaults.seed, 0);

    const slots = emptySlots();
    parseArgs(['/PSiz:P40', '/PSiz:S6', '/Stret:XPZ', '/Double', '/BotB:-5', '/Rand:-3', '/PatT:pat.tga'], slots);
    const { options, seed } = engineOptions(slots);
    // Both widths given: stripes win, as in the command line's slot order.
    assert.equal(options[O.PSiz], 6);
    assert.equal(options[O.inStripes], 1);
    assert.equal(options[O.given], 1);
    assert.deepEqual([options[O.StretA], options[O.StretX], options[O.StretP], options[O.StretZ]], [0, 0, 1, 1]);
    assert.equal(options[O.Double], 1);
    assert.equal(options[O.NoRD], 0);
    assert.equal(options[O.BotB], -5);
    assert.equal(seed, -3);
    assert.equal(options[O.PatT], 0);
    assert.ok(namesPatternImage(slots));
  });

  test('options: colour pickers and rrrgggbbb numbers', () => {
    assert.equal(colourToHex(255248000), '#fff800');
    assert.equal(colourToHex(140095), '#008c5f');
    // Components outside 0..255 are shown clamped.
    assert.equal(colourToHex(300000999), '#ff00ff');
    assert.equal(hexToColour('#5a3cff'), 90060255);
  });
}
