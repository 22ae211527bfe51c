// The binary messages of the viewer's WebSocket; tools/zelvo/viewer/protocol.py describes
// and writes them. Views share the message's buffer: nothing is copied.

const FRAME_HEADER_BYTES = 28;
const RAYS_HEADER_BYTES = 8;
const NO_AGE = 0xffffffff;

function magic(view) {
  return String.fromCharCode(view.getUint8(0), view.getUint8(1), view.getUint8(2),
                             view.getUint8(3));
}

// Returns {kind: "frame", ...} or {kind: "rays", ...}, or null for a message it does not know.
export function decode(buffer) {
  if (buffer.byteLength < RAYS_HEADER_BYTES) return null;
  const view = new DataView(buffer);
  const width = view.getUint16(4, true);
  const height = view.getUint16(6, true);
  const pixels = width * height;
  switch (magic(view)) {
    case "ZVF1": {
      if (buffer.byteLength !== FRAME_HEADER_BYTES + pixels * 3) return null;
      const age = view.getUint32(12, true);
      return {
        kind: "frame", width, height,
        sequence: view.getUint32(8, true),
        ageMs: age === NO_AGE ? null : age / 1000,
        cameraRate: view.getFloat32(16, true),
        rangeMm: view.getFloat32(20, true),
        amplitudeLevel: view.getFloat32(24, true),
        depth: new Uint16Array(buffer, FRAME_HEADER_BYTES, pixels),
        amplitude: new Uint8Array(buffer, FRAME_HEADER_BYTES + pixels * 2, pixels),
      };
    }
    case "ZVR1":
      if (buffer.byteLength !== RAYS_HEADER_BYTES + pixels * 12) return null;
      return {kind: "rays", width, height,
              rays: new Float32Array(buffer, RAYS_HEADER_BYTES, pixels * 3)};
    default:
      return null;
  }
}
