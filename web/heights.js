// Height images made in the page (the example shapes, the practice square
// and text) and the small previews of height images.
//
// A made image is a grey TARGA file, read by the engine like a dropped one:
// 8-bit, or 16-bit when its edges are rounded by a blur, so that the slopes
// keep fine steps instead of 256 terraces.

// A height image: width, height, bits (8 or 16) and one value per pixel,
// top row first.
function heightImage(width, height, bits = 8) {
  return { width, height, bits, values: new Uint16Array(width * height) };
}

// --- Shapes -----------------------------------------------------------------

// Each shape fills an 8-bit image from a function of the position relative
// to the centre, in units of the shorter half side.
function fromFunction(width, height, heightAt) {
  const image = heightImage(width, height);
  const half = Math.min(width, height) / 2;
  for (let y = 0; y < height; ++y) {
    for (let x = 0; x < width; ++x) {
      const u = (x + 0.5 - width / 2) / half;
      const v = (y + 0.5 - height / 2) / half;
      image.values[y * width + x] = Math.max(0, Math.min(255, Math.round(255 * heightAt(u, v, x / (width - 1)))));
    }
  }
  return image;
}

export const shapes = {
  // A half sphere.
  dome: (w, h) => fromFunction(w, h, (u, v) => Math.sqrt(Math.max(0, 0.81 - u * u - v * v)) / 0.9),
  // A ring of round section.
  torus: (w, h) => fromFunction(w, h, (u, v) => {
    const d = Math.hypot(u, v) - 0.55;
    return Math.sqrt(Math.max(0, 0.09 - d * d)) / 0.3;
  }),
  // Four steps up to the centre.
  terraces: (w, h) => fromFunction(w, h, (u, v) => {
    const d = Math.max(Math.abs(u), Math.abs(v));
    return d >= 0.9 ? 0 : Math.min(4, Math.floor((0.9 - d) / 0.18) + 1) / 4;
  }),
  // Rising from left to right.
  ramp: (w, h) => fromFunction(w, h, (u, v, along) => along),
  // The practice image: one large raised square, easy to see.
  square: (w, h) => fromFunction(w, h, (u, v) => (Math.abs(u) < 0.6 && Math.abs(v) < 0.6 ? 0.8 : 0)),
};

export function makeShape(name, width = 640, height = 480) {
  return shapes[name](width, height);
}

// --- Text -------------------------------------------------------------------

// Text as heights: white letters on black at full height, drawn by the
// browser; blur > 0 rounds the edges (a blur of that radius in pixels,
// computed at 16-bit precision).
export function makeText({ text, size = 120, bold = true, blur = 0 }) {
  const font = `${bold ? 'bold ' : ''}${size}px sans-serif`;
  const measure = new OffscreenCanvas(1, 1).getContext('2d');
  measure.font = font;
  const margin = Math.ceil(size * 0.3 + 2 * blur);
  const width = Math.max(64, Math.ceil(measure.measureText(text).width) + 2 * margin);
  const height = Math.ceil(size * 1.3) + 2 * margin;
  const canvas = new OffscreenCanvas(width, height);
  const context = canvas.getContext('2d', { willReadFrequently: true });
  context.fillStyle = '#000';
  context.fillRect(0, 0, width, height);
  context.fillStyle = '#fff';
  context.font = font;
  context.textAlign = 'center';
  context.textBaseline = 'middle';
  context.fillText(text, width / 2, height / 2);
  const rgba = context.getImageData(0, 0, width, height).data;
  const image = heightImage(width, height, blur > 0 ? 16 : 8);
  const scale = blur > 0 ? 257 : 1;
  for (let i = 0; i < width * height; ++i) image.values[i] = rgba[4 * i] * scale;
  if (blur > 0) blurImage(image, blur);
  return image;
}

// Three box blurs in each direction come close to a Gaussian of the given
// radius. Sums are kept in floating point and rounded once per pass to the
// 16-bit values.
export function blurImage(image, radius) {
  const { width, height, values } = image;
  const box = Math.max(1, Math.round(radius / Math.sqrt(3)));
  const line = new Float64Array(Math.max(width, height));
  const pass = (count, length, at) => {
    for (let k = 0; k < count; ++k) {
      for (let i = 0; i < length; ++i) line[i] = values[at(k, i)];
      let sum = 0;
      // The edge pixels continue beyond the image.
      for (let i = -box; i <= box; ++i) sum += line[Math.max(0, Math.min(length - 1, i))];
      for (let i = 0; i < length; ++i) {
        values[at(k, i)] = Math.round(sum / (2 * box + 1));
        sum += line[Math.min(length - 1, i + box + 1)] - line[Math.max(0, i - box)];
      }
    }
  };
  for (let n = 0; n < 3; ++n) {
    pass(height, width, (y, x) => y * width + x);
    pass(width, height, (x, y) => y * width + x);
  }
  return image;
}

// --- TARGA files --------------------------------------------------------------

// An uncompressed grey TARGA file (type 3), top row first, 8 or 16 bits
// per pixel (least significant byte first).
export function greyTarga({ width, height, bits, values }) {
  const bytesPer = bits / 8;
  const file = new Uint8Array(18 + width * height * bytesPer);
  file[2] = 3;
  file[12] = width & 255;
  file[13] = width >> 8;
  file[14] = height & 255;
  file[15] = height >> 8;
  file[16] = bits;
  file[17] = 0x20;
  for (let i = 0; i < width * height; ++i) {
    if (bytesPer === 1) {
      file[18 + i] = values[i];
    } else {
      file[18 + 2 * i] = values[i] & 255;
      file[19 + 2 * i] = values[i] >> 8;
    }
  }
  return file;
}

// Whether bytes can be a TARGA file the engine reads or explains: a colour
// map type of 0 or 1 and an image type of 1, 2 or 3 (9 to 11, compressed,
// are refused by the engine with their own message).
export function looksLikeTarga(bytes) {
  return bytes.length >= 18 && bytes[1] <= 1 && [1, 2, 3, 9, 10, 11].includes(bytes[2]);
}

// Formats the browser decodes, by their first bytes; null for others.
export function browserFormat(bytes) {
  const starts = (...values) => values.every((v, i) => v === null || bytes[i] === v);
  if (starts(0x89, 0x50, 0x4e, 0x47)) return 'PNG';
  if (starts(0xff, 0xd8, 0xff)) return 'JPEG';
  if (starts(0x47, 0x49, 0x46, 0x38)) return 'GIF';
  if (starts(0x52, 0x49, 0x46, 0x46, null, null, null, null, 0x57, 0x45, 0x42, 0x50)) return 'WebP';
  if (starts(0x42, 0x4d)) return 'BMP';
  return null;
}

// The pixels of an uncompressed TARGA file as RGBA for a preview (grey
// shown by its most significant byte), or null for what it cannot show.
export function targaToRgba(bytes) {
  if (!looksLikeTarga(bytes) || bytes[2] > 3) return null;
  const word = (at) => bytes[at] | (bytes[at + 1] << 8);
  const width = word(12);
  const height = word(14);
  const depth = bytes[16];
  const mapLength = bytes[1] === 1 ? word(5) : 0;
  const mapBytes = Math.ceil(bytes[7] / 8);
  const mapAt = 18 + bytes[0];
  const dataAt = mapAt + mapLength * mapBytes;
  const pixelBytes = Math.ceil(depth / 8);
  if (width === 0 || height === 0 || pixelBytes === 0 || dataAt + width * height * pixelBytes > bytes.length) return null;
  const rgba = new Uint8ClampedArray(width * height * 4);
  const topFirst = (bytes[17] & 0x20) !== 0;
  for (let y = 0; y < height; ++y) {
    const row = topFirst ? y : height - 1 - y;
    for (let x = 0; x < width; ++x) {
      const at = dataAt + (row * width + x) * pixelBytes;
      let [r, g, b] = [0, 0, 0];
      if (bytes[2] === 3) {
        r = g = b = bytes[at + pixelBytes - 1];
      } else if (bytes[2] === 2 && pixelBytes >= 3) {
        [b, g, r] = [bytes[at], bytes[at + 1], bytes[at + 2]];
      } else if (bytes[2] === 1 && mapBytes >= 3) {
        const entry = mapAt + (bytes[at] - word(3)) * mapBytes;
        [b, g, r] = [bytes[entry], bytes[entry + 1], bytes[entry + 2]];
      } else {
        return null;
      }
      rgba.set([r, g, b, 255], 4 * (y * width + x));
    }
  }
  return { width, height, rgba };
}
