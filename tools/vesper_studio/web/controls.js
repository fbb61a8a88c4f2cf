// The controls above the parameters and the viewer: preview shape, environment,
// render mode and samples; the views and pinning A; saving the scene and the link.
import { $, el } from "./dom.js";
import { post } from "./api.js";
import { updateLink } from "./link.js";
import { showError } from "./preview.js";
import { changed, pinA, shown, state } from "./state.js";

// The header's controls show the state (a restored link's, say).
export function syncControls() {
  $("shape").value = state.shape;
  $("environment").value = state.env;
  $("envFile").hidden = state.env !== "file";
  $("envFile").value = state.envFile;
  $("mode").value = state.mode;
  $("quality").value = String(state.quality);
}

function initPreviewControls() {
  for (const id of ["shape", "mode", "quality"]) {
    $(id).addEventListener("change", () => {
      state[id] = id === "quality" ? Number($(id).value) : $(id).value;
      changed();
    });
  }
  $("environment").addEventListener("change", () => {
    state.env = $("environment").value;
    $("envFile").hidden = state.env !== "file";
    if (state.env !== "file" || state.envFile) changed();
  });
  $("envFile").addEventListener("change", () => {
    state.envFile = $("envFile").value;
    changed();
  });
}

function initViews() {
  for (const b of document.querySelectorAll(".tabs [data-view]")) {
    b.addEventListener("click", () => {
      state.view = b.dataset.view;
      if (state.view === "ab" && !state.pinned) pinA();
      changed();
    });
  }
  $("pinA").addEventListener("click", () => {
    pinA();
    state.view = "ab";
    changed();
  });
}

// Downloads the scene of the image on the left (the only one in a single view).
async function saveScene() {
  if (!shown.A) return;
  try {
    const r = await post("/api/scene", shown.A.body);
    const blob = new Blob([await r.text()], { type: "application/json" });
    const a = el("a", { href: URL.createObjectURL(blob), download: `${state.class}.json` });
    document.body.append(a);
    a.click();
    a.remove();
  } catch (e) {
    showError(e);
  }
}

async function copyLink() {
  updateLink();
  $("link").select();
  try {
    await navigator.clipboard.writeText($("link").value);
  } catch {
    document.execCommand?.("copy");
  }
}

export function initControls() {
  initPreviewControls();
  initViews();
  $("saveScene").addEventListener("click", saveScene);
  $("copyLink").addEventListener("click", copyLink);
}
