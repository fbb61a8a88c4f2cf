// The lobe in the plane of incidence: the surface is the horizontal line, the
// normal points up, the viewer sits at +incidence (right), the mirror direction
// at -incidence (left). The curve is evaluateBsdf's value x cosine, the bars the
// sampleBsdf directions projected onto the plane and weighted by
// value x cosine x weight; each is scaled to its own maximum.

const ACCENT = "#e8a23a", BARS = "rgba(90, 169, 230, 0.55)", GRID = "#2f343c", DIM = "#8b929c";

function polar(cx, cy, r, degrees) {
  const a = (degrees * Math.PI) / 180;
  return [cx + r * Math.sin(a), cy - r * Math.cos(a)];
}

// The polar grid, the surface line and the side labels.
function drawGrid(g, { W, H, cx, cy, R }) {
  g.strokeStyle = GRID;
  g.lineWidth = 1;
  for (const f of [0.25, 0.5, 0.75, 1]) {
    g.beginPath();
    g.arc(cx, cy, R * f, 0, 2 * Math.PI);
    g.stroke();
  }
  for (let a = -180; a < 180; a += 30) {
    g.beginPath();
    g.moveTo(cx, cy);
    g.lineTo(...polar(cx, cy, R, a));
    g.stroke();
  }
  g.fillStyle = "rgba(255,255,255,0.04)";
  g.fillRect(0, cy, W, H - cy);
  g.strokeStyle = "#6b7280";
  g.lineWidth = 2;
  g.beginPath();
  g.moveTo(4, cy);
  g.lineTo(W - 4, cy);
  g.stroke();
  g.fillStyle = DIM;
  g.font = "11px DejaVu Sans, sans-serif";
  g.fillText("transmission", 8, H - 8);
  g.fillText("reflection", 8, 14);
}

// The histogram of the sampled directions.
function drawBars(g, { cx, cy, R }, h, shape) {
  const hmax = Math.max(...h.weight, 1e-30);
  g.fillStyle = BARS;
  h.weight.forEach((w, i) => {
    if (w <= 0) return;
    const a0 = h.start + i * h.width, a1 = a0 + h.width, r = R * shape(w / hmax);
    g.beginPath();
    g.moveTo(cx, cy);
    g.lineTo(...polar(cx, cy, r, a0));
    g.lineTo(...polar(cx, cy, r, a1));
    g.closePath();
    g.fill();
  });
}

// The evaluated lobe.
function drawCurve(g, { cx, cy, R }, e, shape) {
  const emax = Math.max(...e.throughput, 1e-30);
  g.strokeStyle = ACCENT;
  g.lineWidth = 2;
  g.beginPath();
  e.angles.forEach((a, i) => {
    const [x, y] = polar(cx, cy, R * shape(Math.max(0, e.throughput[i]) / emax), a);
    i ? g.lineTo(x, y) : g.moveTo(x, y);
  });
  g.closePath();
  g.stroke();
}

// A dashed direction from the centre, labelled at its end.
function drawArrow(g, { cx, cy, R }, deg, colour, label) {
  const [x, y] = polar(cx, cy, R * 1.04, deg);
  g.strokeStyle = colour;
  g.setLineDash([4, 4]);
  g.beginPath();
  g.moveTo(cx, cy);
  g.lineTo(x, y);
  g.stroke();
  g.setLineDash([]);
  g.fillStyle = colour;
  g.fillText(label, x + (deg > 0 ? 4 : -g.measureText(label).width - 4), y);
}

// The canvas sized to its box in device pixels, and its context drawing in CSS
// pixels, so that lines and labels keep their size at every window size.
function fitted(canvas, aspect) {
  const dpr = window.devicePixelRatio || 1;
  const W = canvas.clientWidth || canvas.width, H = Math.round(W * aspect);
  const w = Math.round(W * dpr), h = Math.round(H * dpr);
  if (canvas.width !== w || canvas.height !== h) Object.assign(canvas, { width: w, height: h });
  const g = canvas.getContext("2d");
  g.setTransform(dpr, 0, 0, dpr, 0, 0);
  g.clearRect(0, 0, W, H);
  return { g, W, H };
}

export function drawLobe(canvas, data, { log = false } = {}) {
  const { g, W, H } = fitted(canvas, 300 / 520);
  const frame = { W, H, cx: W / 2, cy: H * 0.56, R: Math.min(W * 0.46, H * 0.5) };
  drawGrid(g, frame);
  if (!data) return;
  const shape = (x) => (log ? Math.log10(1 + 1000 * x) / 3 : x);
  drawBars(g, frame, data.histogram, shape);
  drawCurve(g, frame, data.evaluate, shape);
  drawArrow(g, frame, data.incidence, "#d9dce1", "viewer");
  drawArrow(g, frame, -data.incidence, DIM, "mirror");
}

// The sampled directions seen from above, reflection side.
export function drawHemisphere(canvas, data) {
  const { g, W } = fitted(canvas, 1);
  if (!data) return;
  const n = data.hemisphere.size, cells = data.hemisphere.reflection;
  const max = Math.max(...cells, 1e-30), s = W / n;
  for (let y = 0; y < n; ++y) {
    for (let x = 0; x < n; ++x) {
      const v = Math.pow(cells[y * n + x] / max, 0.5);
      if (v <= 0) continue;
      g.fillStyle = `rgba(232, 162, 58, ${v.toFixed(3)})`;
      g.fillRect(x * s, (n - 1 - y) * s, s + 0.5, s + 0.5);
    }
  }
}
