// The lobe panel: the server's lobe of the current settings at the chosen
// incidence, drawn by lobe-plot.js, with the directional albedo and the share
// of each sample kind.
import { $ } from "./dom.js";
import { post } from "./api.js";
import { updateLink } from "./link.js";
import { drawHemisphere, drawLobe } from "./lobe-plot.js";
import { currentClass, hasLobe, pageId, shadesSurface, state } from "./state.js";

let generation = 0, last = null, timer = 0;

// Shows one part of the info beside the plot: the legend, the note that the
// class has no BSDF operations, or a message.
function info(part, message = "") {
  $("lobeLegend").hidden = part !== "legend";
  $("lobeNoBsdf").hidden = part !== "noBsdf";
  $("lobeMessage").textContent = message;
}

function showLobe(data) {
  drawLobe($("lobe"), data, { log: $("lobeLog").checked });
  drawHemisphere($("hemi"), data);
  const kinds = Object.entries(data.kinds).filter(([, n]) => n > 0);
  $("lobeSamples").textContent = data.samples;
  $("lobeAlbedo").textContent = data.albedo.map((x) => x.toFixed(3)).join(" ");
  $("lobeKinds").textContent = kinds.map(([n, v]) => `${n} ${Math.round((100 * v) / data.samples)}%`).join(", ");
  info("legend");
  last = data;
}

export async function updateLobe() {
  const c = currentClass();
  const gen = ++generation;
  $("lobePanel").classList.toggle("off", !hasLobe(c));
  if (!hasLobe(c)) {
    drawLobe($("lobe"), null);
    drawHemisphere($("hemi"), null);
    if (shadesSurface(c)) info("noBsdf");
    else info("", `a ${c.kind}: no lobe`);
    return;
  }
  try {
    const request = { class: state.class, params: state.params, incidence: Number(state.incidence), samples: 60000 };
    const data = await (await post("/api/lobe", request, `${pageId}:lobe`)).json();
    if (gen === generation) showLobe(data);
  } catch (e) {
    if (e.status !== 409 && gen === generation) info("", e.message);
  }
}

export function initLobe() {
  $("incidence").value = state.incidence;
  $("incidenceOut").textContent = `${state.incidence}°`;
  $("incidence").addEventListener("input", () => {
    state.incidence = Number($("incidence").value);
    $("incidenceOut").textContent = `${state.incidence}°`;
    updateLink();
    clearTimeout(timer);
    timer = setTimeout(updateLobe, 40);
  });
  $("lobeLog").addEventListener("change", () => last && drawLobe($("lobe"), last, { log: $("lobeLog").checked }));
}
