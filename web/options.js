// Helpers of the page's option controls. The options themselves (names,
// kinds, defaults, ranges, texts) and their reading come from the engine
// (rdsgen_web_options, rdsgen_web_parse in api.cpp).

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
