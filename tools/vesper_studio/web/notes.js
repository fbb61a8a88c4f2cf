// The class paragraphs and parameter meanings, resolved from the shader notes
// when the studio was built (served as /class-notes.json).

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

// Notes text to HTML: `code` and "parameter" quotes.
export function noteHtml(text) {
  const esc = text.replace(/&/g, "&amp;").replace(/</g, "&lt;").replace(/>/g, "&gt;");
  return esc.replace(/`([^`]+)`/g, "<code>$1</code>").replace(/"([^"\s][^"]*)"/g, '<span class="q">$1</span>');
}
