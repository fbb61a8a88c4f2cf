// The lobe panel: the server's lobe of the current settings at the chosen
// incidence, drawn by lobe-plot.js, with the directional albedo and the share
// of each sample kind. Requests follow the settings one at a time: a change
// while one runs waits for it, and only the latest settings are drawn.
import { $ } from "./dom.js";
import { latest, post } from "./api.js";
import { scheduleLinkUpdate } from "./link.js";
import { drawHemisphere, drawLobe } from "./lobe-plot.js";
import { currentClass, hasLobe, shadesSurface, state } from "./state.js";

let last = null, wanted = "";

// Shows one part of the info beside the plot: the legend, the note that the
// class has no BSDF operations, or a message.
function info(part, message = "") {
  $("lobeLegend").hidden = part !== "legend";
  $("lobeNoBsdf").hidden = part !== "noBsdf";
  $("lobeMessage").textContent = message;
}

const sum = (xs) => xs.reduce((a, b) => a + b, 0);

// evaluateBsdf may answer 0 in every direction while sampleBsdf still returns
// weighted directions (a lobe that only sampling reaches); the plot then has
// bars and no curve, which needs saying.
function evaluateMessage(data) {
  const evaluated = Math.max(...data.evaluate.throughput.map(Math.abs));
  const sampled = sum(data.histogram.weight);
  if (evaluated > 0 || !(sampled > 0)) return "";
  return `evaluateBsdf is 0 at every angle at ${data.incidence}°, while sampleBsdf returns weighted directions: only the bars show the lobe.`;
}

function draw() {
  drawLobe($("lobe"), last, { log: state.log });
  drawHemisphere($("hemi"), last);
}

function showLobe(data) {
  last = data;
  draw();
  const kinds = Object.entries(data.kinds).filter(([, n]) => n > 0);
  $("lobeSamples").textContent = data.samples;
  $("lobeAlbedo").textContent = data.albedo.map((x) => x.toFixed(3)).join(" ");
  $("lobeKinds").textContent = kinds.map(([n, v]) => `${n} ${Math.round((100 * v) / data.samples)}%`).join(", ");
  info("legend");
  $("lobeWarning").textContent = evaluateMessage(data);
  $("lobeWarning").hidden = !$("lobeWarning").textContent;
  $("lobePanel").dataset.status = "done";
}

const request = latest(
  async (body) => {
    const r = await post("/api/lobe", body);
    return r && { key: JSON.stringify(body), data: { ...(await r.json()), incidence: body.incidence } };
  },
  ({ key, data }) => key === wanted && showLobe(data),
  (e, body) => JSON.stringify(body) === wanted && info("", e.message),
);

export function updateLobe() {
  const c = currentClass();
  $("lobePanel").classList.toggle("off", !hasLobe(c));
  if (!hasLobe(c)) {
    last = null;
    wanted = "";
    $("lobeWarning").hidden = true;
    draw();
    if (shadesSurface(c)) info("noBsdf");
    else info("", `${c.name} is a ${c.kind}: it has no lobe.`);
    return;
  }
  const body = { class: state.class, params: state.params, incidence: Number(state.incidence), samples: 60000 };
  if (JSON.stringify(body) === wanted) return;
  wanted = JSON.stringify(body);
  $("lobePanel").dataset.status = "rendering";
  request(body);
}

export function initLobe() {
  $("incidence").value = state.incidence;
  $("incidenceOut").textContent = `${state.incidence}°`;
  $("incidence").addEventListener("input", () => {
    state.incidence = Number($("incidence").value);
    $("incidenceOut").textContent = `${state.incidence}°`;
    scheduleLinkUpdate();
    updateLobe();
  });
  $("lobeLog").checked = state.log;
  $("lobeLog").addEventListener("change", () => {
    state.log = $("lobeLog").checked;
    scheduleLinkUpdate();
    draw();
  });
  new ResizeObserver(draw).observe($("lobe"));
}
