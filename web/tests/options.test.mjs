// The page's option helpers (web/options.js), without a browser. Reading
// the options themselves is the engine's (tests/cli); the byte comparisons
// with the command line in page.test.mjs check the page's use of it.
import assert from 'node:assert/strict';
import { splitArgs, colourToHex, hexToColour } from '../options.js';

export default function register(test) {
  test('options: arguments split at blanks, quotes group them', () => {
    assert.deepEqual(splitArgs(' /PatT:3\t/Rand:5\n'), ['/PatT:3', '/Rand:5']);
    assert.deepEqual(splitArgs('/PatT:"my pattern.tga" "/Dens:4"'), ['/PatT:my pattern.tga', '/Dens:4']);
  });

  test('options: colour pickers and rrrgggbbb numbers', () => {
    assert.equal(colourToHex(255248000), '#fff800');
    assert.equal(colourToHex(140095), '#008c5f');
    // Components outside 0..255 are shown clamped.
    assert.equal(colourToHex(300000999), '#ff00ff');
    assert.equal(hexToColour('#5a3cff'), 90060255);
  });
}
