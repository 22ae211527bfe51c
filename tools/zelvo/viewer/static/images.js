// Turns a frame into the depth and amplitude images and the points of the cloud, in one
// pass over its pixels.

// The colour scale of depth (near blue, far red): a polynomial fit of a perceptual rainbow.
function rainbow(t) {
  const r = 0.13572138 + t * (4.61539260 + t * (-42.66032258 + t * (132.13108234 +
            t * (-152.94239396 + t * 59.28637943))));
  const g = 0.09140261 + t * (2.19418839 + t * (4.84296658 + t * (-14.18503333 +
            t * (4.27729857 + t * 2.82956604))));
  const b = 0.10667330 + t * (12.64194608 + t * (-60.58204836 + t * (110.36276771 +
            t * (-89.90310912 + t * 27.34824973))));
  const byte = (v) => Math.round(255 * Math.min(1, Math.max(0, v)));
  return [byte(r), byte(g), byte(b)];
}

export const DEPTH_COLOURS = (() => {
  const table = new Uint8Array(256 * 3);
  for (let i = 0; i < 256; i++) table.set(rainbow(i / 255), i * 3);
  return table;
})();

// Paints `frame` into two ImageData of its size. With `cloud` ({positions, colours} of at
// least width * height points) and `rays`, also writes the valid pixels' points (metres,
// x right, y up, z towards the viewer: the 3-D library's axes) and colours, packed at the
// front. Returns {points, maxDepth, meanDepth}.
export function paintFrame(frame, depthImage, amplitudeImage, cloud, rays, colourBy) {
  const {depth, amplitude} = frame;
  const count = frame.width * frame.height;
  const scale = 255 / Math.max(frame.rangeMm, 1);
  const dpx = depthImage.data;
  const apx = amplitudeImage.data;
  const positions = cloud && rays ? cloud.positions : null;
  const colours = positions ? cloud.colours : null;
  const byDepth = colourBy !== "amplitude";
  let points = 0;
  let maxDepth = 0;
  let sum = 0;
  for (let i = 0, p = 0; i < count; i++, p += 4) {
    const a = amplitude[i];
    apx[p] = a; apx[p + 1] = a; apx[p + 2] = a; apx[p + 3] = 255;
    const d = depth[i];
    dpx[p + 3] = 255;
    if (d === 0) {
      dpx[p] = 0; dpx[p + 1] = 0; dpx[p + 2] = 0;
      continue;
    }
    const c = Math.min(255, (d * scale) | 0) * 3;
    const r = DEPTH_COLOURS[c], g = DEPTH_COLOURS[c + 1], b = DEPTH_COLOURS[c + 2];
    dpx[p] = r; dpx[p + 1] = g; dpx[p + 2] = b;
    if (d > maxDepth) maxDepth = d;
    sum += d;
    if (positions) {
      const m = d / 1000, k = i * 3, q = points * 3;
      positions[q] = rays[k] * m;
      positions[q + 1] = -rays[k + 1] * m;
      positions[q + 2] = -rays[k + 2] * m;
      if (byDepth) {
        colours[q] = r; colours[q + 1] = g; colours[q + 2] = b;
      } else {
        colours[q] = a; colours[q + 1] = a; colours[q + 2] = a;
      }
    }
    points++;
  }
  return {points, maxDepth, meanDepth: points ? sum / points : 0};
}
