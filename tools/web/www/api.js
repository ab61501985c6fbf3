// The pages' only way to the server: fetch with the session's CSRF token on changes, one
// shared view of whether the card's database answers, and a polling hook. System text is
// returned as data and always rendered as text by the views.
import { useEffect, useRef, useState } from './lib/hooks.module.js';

let csrf = '';
const listeners = new Set();
export const link = { unreachable: false, message: '', lastOk: 0 };

function notify() { for (const l of listeners) l({ ...link }); }
export function onLinkChange(fn) { listeners.add(fn); return () => listeners.delete(fn); }

export class ApiError extends Error {
  constructor(status, body) {
    super(body && body.error ? body.error : `Request failed (${status})`);
    this.status = status;
    this.fields = (body && body.fields) || {};
  }
}

function toLogin() {
  const here = location.pathname;
  location.replace(here === '/' ? '/login' : `/login?next=${encodeURIComponent(here)}`);
}

export async function loadSession() {
  const s = await request('GET', '/api/session');
  csrf = s.csrf;
  return s;
}

// method, path, body (object, Blob or undefined). Resolves to the JSON answer. A background
// request (a poll on a timer) does not restart the session's idle clock.
export async function request(method, path, body, background = false) {
  const headers = {};
  if (background) headers['X-Background'] = '1';
  let payload;
  if (method !== 'GET') headers['X-CSRF-Token'] = csrf;
  if (body instanceof Blob) {
    headers['Content-Type'] = 'application/octet-stream';
    payload = body;
  } else if (body !== undefined) {
    headers['Content-Type'] = 'application/json';
    payload = JSON.stringify(body);
  }
  let res;
  try {
    res = await fetch(path, { method, headers, body: payload, credentials: 'same-origin' });
  } catch (e) {
    link.unreachable = true;
    link.message = 'The web server does not answer.';
    notify();
    throw new ApiError(0, { error: link.message });
  }
  if (res.status === 401) { toLogin(); throw new ApiError(401, { error: 'Log in first' }); }
  const data = await res.json().catch(() => ({}));
  if (res.status === 503 && data.unreachable) {
    link.unreachable = true;
    link.message = data.error;
    notify();
    throw new ApiError(503, data);
  }
  if (link.unreachable) { link.unreachable = false; link.message = ''; }
  link.lastOk = Date.now();
  notify();
  if (!res.ok) throw new ApiError(res.status, data);
  return data;
}

export const get = (path) => request('GET', path);
export const put = (path, body) => request('PUT', path, body);
export const post = (path, body) => request('POST', path, body === undefined ? {} : body);

// Polls paths (a string or a list) every `every` ms while the view is shown; keeps the
// last good data through failures. Returns { data, error, loading, refresh }.
export function usePoll(paths, every = 5000) {
  const key = Array.isArray(paths) ? paths.join('|') : paths;
  const [state, setState] = useState({ data: null, error: null, loading: true });
  const tick = useRef(0);
  const refresh = async (background = false) => {
    const mine = ++tick.current;
    try {
      const list = Array.isArray(paths) ? paths : [paths];
      const results = await Promise.all(list.map((p) => request('GET', p, undefined, background)));
      if (mine !== tick.current) return;
      setState({ data: Array.isArray(paths) ? results : results[0], error: null, loading: false });
    } catch (e) {
      if (mine !== tick.current) return;
      setState((s) => ({ data: s.data, error: e, loading: false }));
    }
  };
  useEffect(() => {
    setState({ data: null, error: null, loading: true });
    refresh();
    const timer = setInterval(() => { if (!document.hidden) refresh(true); }, every);
    return () => { clearInterval(timer); tick.current++; };
  }, [key, every]);
  return { ...state, refresh };
}
