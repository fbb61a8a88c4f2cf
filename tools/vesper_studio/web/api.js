// Requests to the studio's JSON API. A refused request throws an Error with the
// server's message, its HTTP status and the field the server names.

export async function post(path, data, client) {
  const headers = { "Content-Type": "application/json" };
  if (client) headers["X-Vesper-Client"] = client;
  const r = await fetch(path, { method: "POST", headers, body: JSON.stringify(data) });
  if (r.ok) return r;
  const e = await r.json().catch(() => ({ error: r.statusText }));
  throw Object.assign(new Error(e.error || r.statusText), { status: r.status, field: e.field });
}
