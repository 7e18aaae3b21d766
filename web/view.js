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

// The canvas for a picture of width x height shown at factor screen pixels
// per pixel: at least that size, grown (by a few pixels, left empty) to a
// size whose CSS length is a whole number of layout units (1/64 CSS
// pixel). Only then is it painted on exactly that many screen pixels;
// otherwise the browser stretches it a little and drops or doubles a row
// or column somewhere.
export function canvasSize(width, height, { factor, ratio }) {
  const grow = (pixels) => {
    for (let n = pixels; n < pixels + 256; ++n) {
      const units = (n * 64) / ratio;
      if (Math.abs(units - Math.round(units)) < 1e-6) return n;
    }
    return pixels;
  };
  return { width: grow(width * factor), height: grow(height * factor) };
}
