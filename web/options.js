// The page's options: the command line's option texts, read and turned into
// the numbers the engine takes.
//
// The page keeps each option as the text the command line would hold for it
// (a "slot": "" when absent, ">" for a flag that is set or an empty value,
// else the value as typed), so that options read from a command line
// (parseArgs) and options set with the page's controls give the same run.
// engineOptions turns the slots into the engine's options array, in the order
// of RdsgenOption in api.cpp.

// The options of the command line, in its table order (flags marked "!").
const TABLE = [
  'PatT:', 'PSiz:P', 'PSiz:S', 'PUse:', 'PPos:', 'Dens:', 'Rand:', 'FocP:',
  'TopF:', 'BotF:', 'TopB:', 'BotB:', 'Stret:',
  '!NoRD', '!TrueOut', '!VInc', '!Inv', '!CutOff', '!Hidden', '!Double',
];

export const FLAGS = ['NoRD', 'TrueOut', 'VInc', 'Inv', 'CutOff', 'Hidden', 'Double'];

// Slot names: the table entries without "!" and ":".
const SLOT_NAMES = TABLE.map((entry) => entry.replace('!', '').replace(':', ''));

// The default colours as rrrgggbbb numbers.
export const DEFAULT_COLOURS = { TopF: 255248000, BotF: 255090140, TopB: 90060255, BotB: 140095 };

// Every slot empty: the command line's defaults.
export function emptySlots() {
  return Object.fromEntries(SLOT_NAMES.map((name) => [name, '']));
}

const INT32_MAX = 2147483647;
const INT32_MIN = -2147483648;

// A decimal integer as the command line reads it: leading blanks, one sign,
// digits up to the first other character; no digits reads 0; clamped to the
// 32-bit signed range.
export function readDecimal(text) {
  const match = /^[ \t\n\v\f\r]*([+-]?)([0-9]*)/.exec(String(text));
  const digits = match[2].replace(/^0+(?=.)/, '');
  if (digits === '') return 0;
  let value = digits.length > 11 ? INT32_MAX + 1 : Number(digits);
  if (match[1] === '-') value = -value;
  return Math.max(INT32_MIN, Math.min(INT32_MAX, value));
}

// Upper-cases ASCII letters (option names ignore case).
function upcase(text) {
  return text.replace(/[a-z]+/g, (letters) => letters.toUpperCase());
}

// Splits a command line's options into arguments at blanks; double quotes
// keep blanks inside an argument and are themselves dropped.
export function splitArgs(text) {
  const args = [];
  let current = null;
  let quoted = false;
  for (const c of String(text)) {
    if (c === '"') {
      quoted = !quoted;
      current = current ?? '';
    } else if (!quoted && /\s/.test(c)) {
      if (current !== null) args.push(current);
      current = null;
    } else {
      current = (current ?? '') + c;
    }
  }
  if (current !== null) args.push(current);
  return args;
}

// Reads options into slots (changed in place), as the command line does: an
// option "/Name:value" or "-Name:value" fills the first table entry its
// upper-cased name starts with (a flag must match whole), "!Name" empties a
// slot again. Returns the refused arguments' messages; file names are not
// options here and are refused too.
export function parseArgs(args, slots) {
  const errors = [];
  const entries = TABLE.map(upcase);
  for (const argument of args) {
    if (argument === '') continue;
    const first = argument[0];
    const reset = first === '!';
    if (first !== '/' && first !== '-' && !reset) {
      errors.push(`Not an option: ${argument}`);
      continue;
    }
    const colon = argument.indexOf(':');
    const name = colon < 0 ? upcase(argument.slice(1)) : upcase(argument.slice(1, colon)) + argument.slice(colon);
    let matched = false;
    for (let k = 0; k < entries.length && !matched; ++k) {
      let entry = entries[k];
      if (reset && entry.endsWith(':')) entry = entry.slice(0, -1);
      let value;
      if (entry.startsWith('!')) {
        if (name !== entry.slice(1)) continue;
        value = '';
      } else {
        if (!name.startsWith(entry)) continue;
        value = name.slice(entry.length);
      }
      matched = true;
      slots[SLOT_NAMES[k]] = reset ? '' : value === '' ? '>' : value;
    }
    if (!matched) errors.push(`Unknown option: ${argument}`);
  }
  return errors;
}

// The stretch flags of a Stret slot, with the command line's warnings.
export function stretchFlags(text) {
  const flags = { A: 1, X: 0, Y: 0, R: 0, P: 0, Z: 0 };
  const warnings = [];
  if (text === '') return { flags, warnings };
  const emptyValue = text[0] === '>';
  let letters = upcase(text);
  flags.A = flags.X = flags.Y = flags.R = flags.P = 0;
  for (const letter of ['A', 'X', 'Y', 'R', 'P', 'Z']) {
    const at = letters.indexOf(letter);
    if (at < 0) continue;
    flags[letter] = 1;
    // The last character takes the place of the one found.
    const last = letters[letters.length - 1];
    letters = (letters.slice(0, at) + last + letters.slice(at + 1)).slice(0, -1);
  }
  if (letters !== '' && !emptyValue) warnings.push(`Unknown stretch letters '${letters}' ignored.`);
  if (flags.X && flags.P) {
    flags.X = 0;
    warnings.push("The stretch letters 'P' and 'X' may not be used together: 'X' ignored.");
  }
  if (flags.Y && flags.R) {
    flags.R = 0;
    warnings.push("The stretch letters 'Y' and 'R' may not be used together: 'R' ignored.");
  }
  if (!flags.X && flags.R) {
    flags.R = 0;
    warnings.push("The stretch letter 'R' has no effect without 'X': 'R' ignored.");
  }
  return { flags, warnings };
}

// Whether the PatT slot names a pattern image rather than a type 1 to 7.
export function namesPatternImage(slots) {
  if (slots.PatT === '') return false;
  const type = readDecimal(slots.PatT);
  return type < 1 || type > 7;
}

// The engine's options array (RdsgenOption order in api.cpp), the seed as
// the command line gives it (0: none given) and the stretch warnings.
export function engineOptions(slots) {
  const value = (slot, fallback) => (slots[slot] === '' ? fallback : readDecimal(slots[slot]));
  let psiz = value('PSizP', 68);
  let inStripes = 0;
  if (slots.PSizS !== '') {
    psiz = readDecimal(slots.PSizS);
    inStripes = 1;
  }
  const given = slots.PSizP !== '' || slots.PSizS !== '' ? 1 : 0;
  const { flags: stretch, warnings } = stretchFlags(slots.Stret);
  const flag = (name) => (slots[name] !== '' && slots[name][0] === '>' ? 1 : 0);
  const options = [
    value('PatT', 1), psiz, inStripes, given, value('PUse', 24), value('PPos', 2), value('Dens', 45),
    value('FocP', 1),
    value('TopF', DEFAULT_COLOURS.TopF), value('BotF', DEFAULT_COLOURS.BotF),
    value('TopB', DEFAULT_COLOURS.TopB), value('BotB', DEFAULT_COLOURS.BotB),
    stretch.A, stretch.X, stretch.Y, stretch.R, stretch.P, stretch.Z,
    ...FLAGS.map(flag),
  ];
  return { options: Int32Array.from(options), seed: value('Rand', 0), warnings };
}

// The seed the engine is given for a command-line seed (srand takes it as
// an unsigned number).
export function engineSeed(seed) {
  return seed >>> 0;
}

// An rrrgggbbb number as a colour picker's #rrggbb (components clamped to
// 0..255) and back.
export function colourToHex(number) {
  const red = Math.trunc(number / 1000000);
  const green = Math.trunc((number - red * 1000000) / 1000);
  const blue = number - red * 1000000 - green * 1000;
  const hex = (v) => Math.max(0, Math.min(255, v)).toString(16).padStart(2, '0');
  return `#${hex(red)}${hex(green)}${hex(blue)}`;
}

export function hexToColour(hex) {
  const v = parseInt(hex.slice(1), 16);
  return (v >> 16) * 1000000 + ((v >> 8) & 255) * 1000 + (v & 255);
}

// The engine's warning bits (rdsgen::Warning) as texts.
export function warningTexts(bits) {
  const texts = [];
  if (bits & 1) texts.push("The pattern image is narrower than the pattern width: stretch letter 'X' assumed.");
  if (bits & 2) texts.push('CutOff cannot keep the focus marks above the image: they are drawn in the image.');
  if (bits & 4) texts.push('Hidden with the pattern in the centre may look odd; the left position suits it better.');
  if (bits & 8) texts.push('Hidden has no effect with the pattern on the right.');
  return texts;
}
