// What the shader reference says about a class and its parameters, from the
// notes the reference is generated from (served as /shader-notes.json).

const NODE_TYPES = ["Noise", "Tile", "UnifiedBitmap"];

export class Notes {
  constructor(data) {
    this.blocks = data.blocks || {};
    this.classes = data.classes || {};
    this.nodes = data.wardNodes || {};
  }

  text(cls) {
    return (this.classes[cls] || {}).text || "";
  }

  meaning(cls, name) {
    const note = this.classes[cls] || {};
    if ((note.parameters || {})[name]) return note.parameters[name];
    const ids = (note.blocks || []).filter((b) => this.blocks[b]);
    for (const b of ids) {
      const p = this.blocks[b].parameters || {};
      if (p[name]) return p[name];
    }
    for (const b of ids) {
      const block = this.blocks[b];
      for (const [pattern, template] of Object.entries(block.patterns || {})) {
        const re = new RegExp(
          "^" + pattern.replace(/[.*+?^$()|[\]\\]/g, "\\$&").replace("{ch}", "([a-z][A-Za-z0-9]*?)") + "$");
        const m = name.match(re);
        const channels = { ...(block.channels || {}), ...(note.channels || {}) };
        if (m && channels[m[1]]) return template.replace("{ch}", channels[m[1]]);
      }
    }
    return name.startsWith("_ward_") ? this.nodeMeaning(name) : "";
  }

  // _ward_<input>_<Node>[_<slot>_<Node>...]_<parameter>
  nodeMeaning(name) {
    const tokens = name.slice(6).split("_");
    const first = tokens.findIndex((t) => NODE_TYPES.includes(t));
    if (first <= 0) return "";
    const input = tokens.slice(0, first).join("_");
    const chain = tokens.slice(first, -1);
    const parameter = tokens[tokens.length - 1];
    const node = chain[chain.length - 1];
    const what = ((this.nodes.parameters || {})[node] || {})[parameter];
    const target = (this.nodes.inputs || {})[input];
    if (!what || !target || chain.length % 2 !== 1) return "";
    let where = `\`${input}\`, ${target}`;
    for (let i = 0; i + 1 < chain.length; i += 2) where = `${chain[i + 1]} of the ${chain[i]} node on ${where}`;
    return `${what} (${node} node on ${where})`;
  }
}

// Notes text to HTML: `code` and "parameter" quotes.
export function noteHtml(text) {
  const esc = text.replace(/&/g, "&amp;").replace(/</g, "&lt;").replace(/>/g, "&gt;");
  return esc.replace(/`([^`]+)`/g, "<code>$1</code>").replace(/"([^"\s][^"]*)"/g, '<span class="q">$1</span>');
}
