// Image files for the tests: 8-bit grey and 24-bit colour TARGA files, and
// PNG files (RGBA, 8 bits) written and read without the browser.
import zlib from 'node:zlib';

const CRC_TABLE = Array.from({ length: 256 }, (_, n) => {
  let c = n;
  for (let k = 0; k < 8; ++k) c = c & 1 ? 0xedb88320 ^ (c >>> 1) : c >>> 1;
  return c >>> 0;
});

function crc32(bytes) {
  let c = 0xffffffff;
  for (const b of bytes) c = CRC_TABLE[(c ^ b) & 0xff] ^ (c >>> 8);
  return (c ^ 0xffffffff) >>> 0;
}

function chunk(type, data) {
  const head = Buffer.alloc(8);
  head.writeUInt32BE(data.length, 0);
  head.write(type, 4, 'latin1');
  const crc = Buffer.alloc(4);
  crc.writeUInt32BE(crc32(Buffer.concat([head.subarray(4), data])), 0);
  return Buffer.concat([head, data, crc]);
}

// A PNG file of RGBA pixels (width * height * 4 bytes, top row first).
export function encodePng(width, height, rgba) {
  const header = Buffer.alloc(13);
  header.writeUInt32BE(width, 0);
  header.writeUInt32BE(height, 4);
  header[8] = 8;  // bits per sample
  header[9] = 6;  // RGBA
  const rows = Buffer.alloc((4 * width + 1) * height);
  for (let y = 0; y < height; ++y) {
    Buffer.from(rgba.buffer, rgba.byteOffset + 4 * width * y, 4 * width).copy(rows, (4 * width + 1) * y + 1);
  }
  return Buffer.concat([
    Buffer.from([0x89, 0x50, 0x4e, 0x47, 0x0d, 0x0a, 0x1a, 0x0a]),
    chunk('IHDR', header), chunk('IDAT', zlib.deflateSync(rows)), chunk('IEND', Buffer.alloc(0)),
  ]);
}

// The RGBA pixels of a non-interlaced 8-bit PNG file (grey, RGB or RGBA).
export function decodePng(file) {
  let at = 8;
  let width = 0;
  let height = 0;
  let colourType = 0;
  const data = [];
  while (at < file.length) {
    const length = file.readUInt32BE(at);
    const type = file.toString('latin1', at + 4, at + 8);
    const body = file.subarray(at + 8, at + 8 + length);
    if (type === 'IHDR') {
      width = body.readUInt32BE(0);
      height = body.readUInt32BE(4);
      if (body[8] !== 8 || body[12] !== 0) throw new Error('only 8-bit non-interlaced PNG files');
      colourType = body[9];
    } else if (type === 'IDAT') {
      data.push(body);
    }
    at += 12 + length;
  }
  const channels = { 0: 1, 2: 3, 6: 4 }[colourType];
  if (!channels) throw new Error(`PNG colour type ${colourType} not read here`);
  const raw = zlib.inflateSync(Buffer.concat(data));
  const stride = width * channels;
  const pixels = Buffer.alloc(stride * height);
  for (let y = 0; y < height; ++y) {
    const filter = raw[y * (stride + 1)];
    const line = raw.subarray(y * (stride + 1) + 1, (y + 1) * (stride + 1));
    for (let x = 0; x < stride; ++x) {
      const a = x >= channels ? pixels[y * stride + x - channels] : 0;
      const b = y > 0 ? pixels[(y - 1) * stride + x] : 0;
      const c = x >= channels && y > 0 ? pixels[(y - 1) * stride + x - channels] : 0;
      let predictor = 0;
      if (filter === 1) predictor = a;
      else if (filter === 2) predictor = b;
      else if (filter === 3) predictor = (a + b) >> 1;
      else if (filter === 4) {
        const p = a + b - c;
        const pa = Math.abs(p - a);
        const pb = Math.abs(p - b);
        const pc = Math.abs(p - c);
        predictor = pa <= pb && pa <= pc ? a : pb <= pc ? b : c;
      }
      pixels[y * stride + x] = (line[x] + predictor) & 0xff;
    }
  }
  const rgba = Buffer.alloc(width * height * 4);
  for (let i = 0; i < width * height; ++i) {
    const p = pixels.subarray(i * channels, (i + 1) * channels);
    rgba[4 * i] = p[0];
    rgba[4 * i + 1] = channels === 1 ? p[0] : p[1];
    rgba[4 * i + 2] = channels === 1 ? p[0] : p[2];
    rgba[4 * i + 3] = channels === 4 ? p[3] : 255;
  }
  return { width, height, rgba };
}

// A TARGA file, top row first: 8-bit grey (type 3) from one byte per pixel,
// or 24-bit colour (type 2) from blue, green, red per pixel.
export function encodeTga(width, height, pixels, colour) {
  const header = Buffer.from([0, 0, colour ? 2 : 3, 0, 0, 0, 0, 0, 0, 0, 0, 0,
    width & 255, width >> 8, height & 255, height >> 8, colour ? 24 : 8, 0x20]);
  return Buffer.concat([header, Buffer.from(pixels)]);
}

// The pixels of an uncompressed top-first 8-bit grey or 24-bit TARGA file
// (as rdsgen writes them) as RGBA.
export function tgaToRgba(file) {
  const width = file[12] | (file[13] << 8);
  const height = file[14] | (file[15] << 8);
  const grey = file[2] === 3;
  const rgba = Buffer.alloc(width * height * 4);
  for (let i = 0; i < width * height; ++i) {
    const at = 18 + (grey ? i : 3 * i);
    rgba[4 * i] = grey ? file[at] : file[at + 2];
    rgba[4 * i + 1] = grey ? file[at] : file[at + 1];
    rgba[4 * i + 2] = file[at];
    rgba[4 * i + 3] = 255;
  }
  return { width, height, rgba };
}

// The grey pixels of an 8-bit grey top-first TARGA file.
export function tgaGreyPixels(file) {
  const width = file[12] | (file[13] << 8);
  const height = file[14] | (file[15] << 8);
  return { width, height, pixels: file.subarray(18 + file[0], 18 + file[0] + width * height) };
}
