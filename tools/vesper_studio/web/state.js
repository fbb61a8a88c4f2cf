// What the page edits and shows: the state a link restores, the images in the
// viewer, the catalogue from the server, and the one announcement of a change.

export const state = {
  class: "", params: {}, shape: "sphere", env: "sky", envFile: "", mode: "direct", quality: 16,
  view: "single", incidence: 45, pinned: null, diff: false, log: false, split: 0.5,
};

// The images shown: channel ("A", "B") -> {body, blob, url}.
export const shown = {};

// Filled once at start: /api/classes, its classes by name, the embedded notes.
export const page = { catalogue: null, classes: new Map(), notes: null };

// One id per page; each view sends `${pageId}:${view}`, so that a newer request
// of a view cancels its older one on the server.
export const pageId = Math.random().toString(36).slice(2, 10);

const listeners = [];
export const onChange = (fn) => listeners.push(fn);
export function changed() {
  for (const fn of listeners) fn();
}

export const currentClass = () => page.classes.get(state.class);
export const presetOf = (c) => structuredClone(c.preset || {});

export function same(a, b) {
  return JSON.stringify(a) === JSON.stringify(b);
}

// Keeps the current settings of the current class as A for the A vs B view.
export function pinA() {
  const { shape, env, envFile, mode } = state;
  state.pinned = { class: state.class, params: structuredClone(state.params), shape, env, envFile, mode };
}

// Capability bits of the binary contract. Only materials shade, and a material
// always does, so the shade bit is what puts a class on the preview's shape.
const SHADE = 1, BSDF = 4 | 8;
export const shadesSurface = (c) => (c.capabilities & SHADE) !== 0;
export const hasLobe = (c) => (c.capabilities & BSDF) === BSDF;
