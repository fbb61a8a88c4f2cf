// Two images of the same size: RMSE and PSNR of their 8-bit sRGB values (as
// fractions of 255), and a heat map of the per-pixel difference.

async function pixels(blob) {
  const bitmap = await createImageBitmap(blob);
  const c = new OffscreenCanvas(bitmap.width, bitmap.height);
  const g = c.getContext("2d");
  g.drawImage(bitmap, 0, 0);
  return g.getImageData(0, 0, bitmap.width, bitmap.height);
}

// Black through purple and orange to white.
function heat(t) {
  const stops = [[0, 0, 0], [80, 20, 120], [220, 70, 50], [250, 190, 60], [255, 255, 255]];
  const x = Math.min(1, Math.max(0, t)) * (stops.length - 1);
  const i = Math.min(stops.length - 2, Math.floor(x)), f = x - i;
  return stops[i].map((c, k) => c + (stops[i + 1][k] - c) * f);
}

export async function compare(blobA, blobB, canvas) {
  const [a, b] = await Promise.all([pixels(blobA), pixels(blobB)]);
  if (a.width !== b.width || a.height !== b.height) return null;
  canvas.width = a.width;
  canvas.height = a.height;
  const g = canvas.getContext("2d");
  const out = g.createImageData(a.width, a.height);
  const diff = new Float32Array(a.width * a.height);
  let sum = 0, max = 0;
  for (let i = 0, p = 0; p < diff.length; ++p, i += 4) {
    let d2 = 0;
    for (let c = 0; c < 3; ++c) {
      const d = (a.data[i + c] - b.data[i + c]) / 255;
      d2 += d * d;
    }
    sum += d2;
    diff[p] = Math.sqrt(d2 / 3);
    max = Math.max(max, diff[p]);
  }
  // Scaled so that the largest difference is white, at least 1/16 of the range.
  const scale = 1 / Math.max(max, 1 / 16);
  for (let p = 0, i = 0; p < diff.length; ++p, i += 4) {
    const [r, gg, bb] = heat(diff[p] * scale);
    out.data[i] = r, out.data[i + 1] = gg, out.data[i + 2] = bb, out.data[i + 3] = 255;
  }
  g.putImageData(out, 0, 0);
  const rmse = Math.sqrt(sum / (3 * diff.length));
  return { rmse, psnr: rmse > 0 ? 20 * Math.log10(1 / rmse) : Infinity, max };
}
