// Requests to the studio's JSON API. A refused request throws an Error with the
// server's message, its HTTP status and the field the server names; a request
// the page aborted resolves to null, since nothing waits for it any more.

export async function post(path, data, { client, signal } = {}) {
  const headers = { "Content-Type": "application/json" };
  if (client) headers["X-Vesper-Client"] = client;
  let r;
  try {
    r = await fetch(path, { method: "POST", headers, body: JSON.stringify(data), signal });
  } catch (e) {
    if (signal?.aborted) return null;
    throw e;
  }
  if (r.ok) return r;
  const e = await r.json().catch(() => ({ error: r.statusText }));
  throw Object.assign(new Error(e.error || r.statusText), { status: r.status, field: e.field });
}

// The answer to the latest of a stream of requests, at most one in flight: a
// request made while one runs waits for it, and a newer one replaces it. The
// answer of a replaced request is dropped, so `onAnswer` sees only the latest.
export function latest(send, onAnswer, onError) {
  let running = false, waiting = null;
  const run = async (arg) => {
    running = true;
    try {
      const answer = await send(arg);
      if (!waiting && answer !== null) onAnswer(answer, arg);
    } catch (e) {
      if (!waiting) onError(e, arg);
    }
    running = false;
    if (waiting) {
      const next = waiting.arg;
      waiting = null;
      run(next);
    }
  };
  return (arg) => {
    if (running) waiting = { arg };
    else run(arg);
  };
}
