// vesper-studio's page: pick a class, edit its parameters, watch the preview
// refine, compare render paths or settings, read the lobe, save the scene.
// This module loads the classes and their notes, restores the state of the link
// and starts the parts of the page; every change renders again, a moment later.
import { buildClassList, initClassList, selectClass } from "./classes.js";
import { initControls, syncControls } from "./controls.js";
import { linkedState, updateLink } from "./link.js";
import { initLobe, updateLobe } from "./lobe.js";
import { Notes } from "./notes.js";
import { initParams } from "./params.js";
import { renderPreview } from "./preview.js";
import { onChange, page, state } from "./state.js";
import { initViewer } from "./viewer.js";

async function load() {
  const [catalogue, notes] = await Promise.all([
    fetch("/api/classes").then((r) => r.json()),
    fetch("/class-notes.json").then((r) => r.json()).catch(() => ({})),
  ]);
  page.catalogue = catalogue;
  page.notes = new Notes(notes);
  for (const c of catalogue.classes) page.classes.set(c.name, c);
}

// The link's state when it names a class of this library; else the default class.
function restore() {
  const restored = linkedState();
  if (restored && page.classes.has(restored.class)) {
    Object.assign(state, restored);
    return true;
  }
  state.class = page.classes.has("corvid_Mtl_Metal") ? "corvid_Mtl_Metal" : page.catalogue.classes[0].name;
  return false;
}

function renderOnChange() {
  let timer = 0;
  onChange(() => {
    updateLink();
    clearTimeout(timer);
    timer = setTimeout(() => {
      renderPreview();
      updateLobe();
    }, 30);
  });
}

async function start() {
  await load();
  const restored = restore();
  renderOnChange();
  syncControls();
  buildClassList();
  initClassList();
  initParams();
  initControls();
  initViewer();
  initLobe();
  selectClass(state.class, !restored);
}

start();
