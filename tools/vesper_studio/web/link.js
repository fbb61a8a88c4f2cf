// The state in the link: base64url of a JSON object with short keys in the
// page's address, so that opening the link restores class, parameters and view.
import { $ } from "./dom.js";
import { state } from "./state.js";

function encodeState() {
  const s = {
    c: state.class, p: state.params, s: state.shape, e: state.env, f: state.envFile, m: state.mode,
    q: state.quality, v: state.view, i: state.incidence, a: state.pinned,
  };
  const bytes = new TextEncoder().encode(JSON.stringify(s));
  return btoa(String.fromCharCode(...bytes)).replace(/\+/g, "-").replace(/\//g, "_").replace(/=+$/, "");
}

function decodeState(text) {
  try {
    const b = atob(text.replace(/-/g, "+").replace(/_/g, "/"));
    const s = JSON.parse(new TextDecoder().decode(Uint8Array.from(b, (c) => c.charCodeAt(0))));
    return {
      class: s.c, params: s.p || {}, shape: s.s || "sphere", env: s.e || "sky", envFile: s.f || "",
      mode: s.m || "direct", quality: s.q || 16, view: s.v || "single", incidence: s.i ?? 45, pinned: s.a || null,
    };
  } catch {
    return null;
  }
}

// The state of the page's address, or null when it has none.
export function linkedState() {
  return location.hash.startsWith("#state=") ? decodeState(location.hash.slice(7)) : null;
}

export function updateLink() {
  const url = new URL(location.href);
  url.hash = "state=" + encodeState();
  history.replaceState(null, "", url);
  $("link").value = url.href;
}
