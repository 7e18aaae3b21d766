// Types of the rdsgen package.

/** The package's version, the command line's. */
export const version: string;

/** A refusal of the engine, with the command line's message. */
export class RdsgenError extends Error {
  /** The warnings the run gave before it was refused. */
  warnings?: string[];
}

/** Raw height samples, top row first. */
export interface RawHeights {
  width: number;
  height: number;
  /** grey8 and rgb (red, green, blue): Uint8Array; grey16: Uint16Array;
   * grey24: Uint8Array of three bytes per pixel, low byte first. */
  samples: Uint8Array | Uint16Array;
  /** Default: grey16 for a Uint16Array, else grey8. */
  kind?: 'grey8' | 'grey16' | 'grey24' | 'rgb';
}

export interface RenderExtra {
  /** The pattern image's file (TARGA or PNG), when /PatT names one. */
  pattern?: Uint8Array | ArrayBuffer;
  /** 'tga' (default), or 'png' where CompressionStream exists. */
  format?: 'tga' | 'png';
}

export interface Stereogram {
  /** The file in the format asked for. */
  bytes: Uint8Array;
  /** The TARGA file, as the command line writes it. */
  tga: Uint8Array;
  width: number;
  height: number;
  /** 8-bit grey (else 24-bit colour). */
  grey: boolean;
  /** The command line's warnings, each a "WARNING: " text. */
  warnings: string[];
}

/**
 * Makes the stereogram of a height image with the command line's options
 * ("/PatT:6 /Rand:1" or ["/PatT:6", "/Rand:1"]). For the same image,
 * options and seed the TARGA bytes are the command line's.
 *
 * heights: the bytes of a TARGA or PNG file (a PNG file's image data is
 * inflated by DecompressionStream), or raw samples. JPEG files are refused.
 */
export function render(
  heights: Uint8Array | ArrayBuffer | RawHeights,
  options?: string | string[],
  extra?: RenderExtra,
): Promise<Stereogram>;
