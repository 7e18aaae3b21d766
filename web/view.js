// Sizes of the picture on screen, apart from the page so that they can be
// checked without a browser.

// The width to resample the height image to so that the stereogram is
// deviceWidth screen pixels wide at most: the last picture tells how many
// columns the pattern adds (none when the output is cut to the height
// image) and whether every column was doubled.
export function fitWidth({ deviceWidth, outputWidth, inputWidth, doubled, cut }) {
  const scale = doubled ? 2 : 1;
  const pattern = cut ? 0 : Math.max(0, Math.round(outputWidth / scale) - inputWidth);
  return Math.max(1, Math.floor(deviceWidth / scale) - pattern);
}

// Screen pixels per picture pixel: a whole number, so that no row or column
// is dropped or doubled; 1 in the full-screen view, else the largest that
// does not exceed the device pixel ratio (a picture pixel close to its
// CSS size).
export function pixelFactor(ratio, fullScreen) {
  return fullScreen ? 1 : Math.max(1, Math.floor(ratio + 1e-9));
}

// Chromium lays out in 1/64 CSS pixels: the CSS length closest to a whole
// number of screen pixels, so that the painted size is exactly that.
export function cssLength(devicePixels, ratio) {
  return Math.round((devicePixels / ratio) * 64) / 64;
}
