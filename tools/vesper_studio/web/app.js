// vesper-studio's page: pick a class, edit its parameters, watch the preview
// refine, compare render paths or settings, read the lobe, save the scene.
// This module loads the classes and their notes, restores the state of the link
// and starts the parts of the page; every change renders again at once (the
// preview, the lobe and the usage marks each keep at most one request running).
import { buildClassList, initClassList, selectClass } from "./classes.js";
import { initControls, labelSaveButtons, syncControls } from "./controls.js";
import { linkedState, scheduleLinkUpdate } from "./link.js";
import { initLobe, updateLobe } from "./lobe.js";
import { Notes } from "./notes.js";
import { initParams } from "./params.js";
import { renderPreview } from "./preview.js";
import { onChange, page, state } from "./state.js";
import { updateUsage } from "./usage.js";
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

// The link's state, if any; a class the library does not export gives way to
// the default class at its preset. True when the link's class and parameters apply.
function restore() {
  const restored = linkedState();
  if (restored) Object.assign(state, restored);
  if (page.classes.has(state.class)) return true;
  state.class = page.classes.has("corvid_Mtl_Metal") ? "corvid_Mtl_Metal" : page.catalogue.classes[0].name;
  return false;
}

// The changes of one event (a class switch sets several things) render once.
function renderOnChange() {
  let queued = false;
  onChange(() => {
    if (queued) return;
    queued = true;
    queueMicrotask(() => {
      queued = false;
      scheduleLinkUpdate();
      labelSaveButtons();
      renderPreview();
      updateUsage();
      updateLobe();
    });
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
