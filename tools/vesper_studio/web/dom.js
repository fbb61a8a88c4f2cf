// The DOM helpers the page's modules share. Text from the server is always set
// as text (textContent, string children), never parsed as markup.

export const $ = (id) => document.getElementById(id);

// An element with properties and children (elements or strings).
export function el(tag, props = {}, ...children) {
  const e = Object.assign(document.createElement(tag), props);
  e.append(...children);
  return e;
}
