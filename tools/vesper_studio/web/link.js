// The state in the link: base64url of a JSON object with short keys in the
// page's address, so that opening the link restores class, parameters and view.
import { $ } from "./dom.js";
import { state } from "./state.js";

const KEYS = {
  c: "class", p: "params", s: "shape", e: "env", f: "envFile", m: "mode", q: "quality", v: "view",
  i: "incidence", a: "pinned", d: "diff", l: "log", x: "split",
};

function encodeState() {
  const s = Object.fromEntries(Object.entries(KEYS).map(([k, name]) => [k, state[name]]));
  const bytes = new TextEncoder().encode(JSON.stringify(s));
  return btoa(String.fromCharCode(...bytes)).replace(/\+/g, "-").replace(/\//g, "_").replace(/=+$/, "");
}

// The linked values over the defaults; a value of another type than the
// default's is left out.
function decodeState(text, defaults) {
  try {
    const b = atob(text.replace(/-/g, "+").replace(/_/g, "/"));
    const s = JSON.parse(new TextDecoder().decode(Uint8Array.from(b, (c) => c.charCodeAt(0))));
    const out = structuredClone(defaults);
    for (const [k, name] of Object.entries(KEYS)) {
      const v = s[k];
      if (v === undefined || v === null) continue;
      if (name === "pinned" ? typeof v === "object" : typeof v === typeof defaults[name]) out[name] = v;
    }
    out.split = Math.min(1, Math.max(0, Number(out.split)));
    return out;
  } catch {
    return null;
  }
}

// The state of the page's address, or null when it has none.
export function linkedState() {
  return location.hash.startsWith("#state=") ? decodeState(location.hash.slice(7), state) : null;
}

export function updateLink() {
  const url = new URL(location.href);
  url.hash = "state=" + encodeState();
  history.replaceState(null, "", url);
  $("link").value = url.href;
}

// The link a moment after the last of a run of changes (a drag changes it many
// times a second, and browsers limit how often a page may rewrite its address).
let timer = 0;
export function scheduleLinkUpdate() {
  clearTimeout(timer);
  timer = setTimeout(updateLink, 150);
}
