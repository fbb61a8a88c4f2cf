// The class paragraphs and parameter meanings, resolved from the shader notes
// when the studio was built (served as /class-notes.json), and the notes' marks
// (`code`, "parameter") as elements.
import { el } from "./dom.js";

const own = (o, k) => (o && Object.hasOwn(o, k) ? o[k] : undefined);

export class Notes {
  constructor(data) {
    this.classes = data.classes || {};
    // [kind, title] in the shader reference's order.
    this.kinds = data.kinds || [];
  }

  text(cls) {
    return own(own(this.classes, cls), "text") || "";
  }

  meaning(cls, name) {
    return own(own(own(this.classes, cls), "parameters"), name) || "";
  }
}

const MARKS = /`([^`]+)`|"([^"\s][^"]*)"/g;

// Notes text as nodes: `code` as <code>, "parameter" as <span class="q">.
export function noteNodes(text) {
  const nodes = [];
  let at = 0;
  for (const m of text.matchAll(MARKS)) {
    nodes.push(text.slice(at, m.index));
    const [tag, props, inner] = m[1] !== undefined ? ["code", {}, m[1]] : ["span", { className: "q" }, m[2]];
    nodes.push(el(tag, props, ...noteNodes(inner)));
    at = m.index + m[0].length;
  }
  nodes.push(text.slice(at));
  return nodes.filter((n) => n !== "");
}
