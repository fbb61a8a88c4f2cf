// The preview: each change renders a small image with one sample first, then
// refines up to the chosen sample count at 480x360 while nothing changes. A
// change while the small image renders waits for it (so that a slider drag
// shows images as fast as they come, one request at a time) and then renders
// the latest settings; a change during the refinement abandons it at once.
import { $ } from "./dom.js";
import { post } from "./api.js";
import { markBadParameter } from "./params.js";
import { pageId, same, shown, state } from "./state.js";
import { layoutViewer, markStale, showImage, showProgress, updateComparison } from "./viewer.js";

function environment(s) {
  return s.env === "file" ? s.envFile : s.env;
}

// What each channel shows in the current view: [mode, settings].
function channels() {
  const s = structuredClone(state);
  if (s.view === "paths") return { A: ["direct", s], B: ["path", s] };
  if (s.view === "ab" && s.pinned) return { A: [s.pinned.mode, { ...s, ...s.pinned }], B: [s.mode, s] };
  return { A: [s.mode, s] };
}

function steps(quality) {
  const list = [[160, 120, 1], [320, 240, 1], [480, 360, Math.min(4, quality)], [480, 360, Math.min(16, quality)], [480, 360, quality]];
  return list.filter((s, i) => i === 0 || !same(s, list[i - 1]));
}

// The render requests of one channel, smallest first.
function requests([mode, s]) {
  return steps(Number(s.quality)).map(([width, height, spp]) => ({
    class: s.class, params: s.params, width, height, spp, mode, seed: 1, preview: s.shape,
    environment: environment(s),
  }));
}

// The message of a refused request under the viewer, and its parameter marked; null clears both.
export function showError(e) {
  markBadParameter(e?.field);
  $("error").hidden = !e;
  if (e) $("error").textContent = e.message;
}

// An image of older settings is still worth showing, dimmed, while the newer
// one renders when it is of the same class in the same view.
const work = (b) => b.width * b.height * b.spp;
const picture = (b) => JSON.stringify([b.class, b.params, b.mode, b.preview, b.environment]);

// The steps still worth rendering when `old` of the same settings is shown.
function remaining(list, old) {
  if (!old || picture(old) !== picture(list[0])) return list;
  const better = list.filter((b) => work(b) > work(old));
  return better.length || same(old, list.at(-1)) ? better : [list.at(-1)];
}

class Channel {
  constructor(name) {
    this.name = name;
    this.target = null; // {view, list}: the requests of the latest settings
    this.running = null; // {target, step, controller}
    this.shownView = "";
  }

  samePicture(body, view) {
    return this.target && this.target.view === view && this.target.list[0]?.class === body.class;
  }

  // Starts refining towards `list` now, or once the small image being rendered
  // is there.
  want(list, view) {
    if (this.target?.view === view && same(this.target.all, list)) return;
    this.target = { view, list, all: list };
    const old = shown[this.name]?.body;
    if (old && !this.samePicture(old, this.shownView)) showImage(this.name, null);
    this.target.list = remaining(list, shown[this.name]?.body);
    if (!this.running) return this.next(this.target, 0);
    const { target, step, controller } = this.running;
    if (step > 0 || !this.samePicture(target.list[0], target.view)) controller.abort();
  }

  // Stops at once; nothing of this channel is shown any more.
  drop() {
    this.target = null;
    this.running?.controller.abort();
    showImage(this.name, null);
  }

  next(target, step) {
    if (step < target.list.length) return this.run(target, step);
    renderDone();
  }

  async run(target, step) {
    const controller = new AbortController();
    this.running = { target, step, controller };
    const b = target.list[step];
    let answer = null;
    try {
      const r = await post("/api/render", b, { client: `${pageId}:${this.name}`, signal: controller.signal });
      if (r) answer = { blob: await r.blob(), seconds: Number(r.headers.get("X-Render-Seconds")) };
    } catch (e) {
      if (this.target === target && e.name !== "AbortError" && e.status !== 409) this.fail(e);
    }
    this.running = null;
    if (answer && this.samePicture(b, target.view)) await this.show(b, target, answer);
    if (!this.target) return;
    if (this.target !== target) return this.next(this.target, 0);
    if (answer) this.next(target, step + 1);
  }

  async show(b, target, { blob, seconds }) {
    const current = this.target === target;
    if (current) showError(null);
    this.shownView = target.view;
    showImage(this.name, b, blob);
    markStale(targets());
    if (current) showProgress(this.name, b, seconds);
    await updateComparison();
  }

  fail(e) {
    showError(e);
    $("viewer").dataset.status = "error";
  }
}

const refiners = { A: new Channel("A"), B: new Channel("B") };

// Every channel of the view shows its last refinement.
function renderDone() {
  const live = Object.values(refiners).filter((r) => r.target);
  const finished = (r) => !r.running && (!r.target.list.length || same(shown[r.name]?.body, r.target.list.at(-1)));
  if (live.every(finished)) $("viewer").dataset.status = "done";
}

// Renders the current state into every channel of the view.
export function renderPreview() {
  const ch = channels();
  layoutViewer(Boolean(ch.B));
  if (!ch.B) refiners.B.drop();
  $("viewer").dataset.status = "rendering";
  showError(null);
  for (const [k, v] of Object.entries(ch)) refiners[k].want(requests(v), state.view);
  markStale(targets());
}

// The settings each channel renders now, for the stale marks.
const targets = () => ({ A: refiners.A.target?.list[0], B: refiners.B.target?.list[0] });
