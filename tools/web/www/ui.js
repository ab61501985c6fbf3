// Shared pieces of the views: htm bound to Preact, navigation, confirmation dialog,
// form fields with their error text, status badges, formatting.
import { h } from './lib/preact.module.js';
import { useEffect, useRef, useState } from './lib/hooks.module.js';
import htm from './lib/htm.module.js';
import { put } from './api.js';

export const html = htm.bind(h);

export function navigate(path) {
  if (path === location.pathname + location.search) return;
  history.pushState(null, '', path);
  dispatchEvent(new PopStateEvent('popstate'));
}

export function Link({ href, children, ...rest }) {
  const click = (e) => {
    if (e.button !== 0 || e.metaKey || e.ctrlKey || e.shiftKey) return;
    e.preventDefault();
    navigate(href);
  };
  return html`<a href=${href} onClick=${click} ...${rest}>${children}</a>`;
}

// A modal question. danger colours the confirm button; typed asks the operator to type a
// word before the button works (for the irreversible ones).
export function Confirm({ open, title, text, confirmLabel, danger, typed, busy, onConfirm, onCancel }) {
  const ref = useRef(null);
  const [word, setWord] = useState('');
  useEffect(() => {
    const d = ref.current;
    if (!d) return;
    if (open && !d.open) { setWord(''); d.showModal(); }
    if (!open && d.open) d.close();
  }, [open]);
  const ready = !typed || word === typed;
  return html`<dialog ref=${ref} class="confirm" onCancel=${(e) => { e.preventDefault(); onCancel(); }}>
    <h3>${title}</h3>
    <p>${text}</p>
    ${typed && html`<label>Type <b>${typed}</b> to confirm
      <input value=${word} onInput=${(e) => setWord(e.target.value)} autocomplete="off" /></label>`}
    <div class="actions">
      <button type="button" onClick=${onCancel} disabled=${busy}>Cancel</button>
      <button type="button" class=${danger ? 'danger' : 'primary'} disabled=${!ready || busy}
        onClick=${onConfirm} data-confirm>${busy ? 'Working…' : confirmLabel}</button>
    </div>
  </dialog>`;
}

// One confirmation at a time for a view: ask({...}) opens it, the action runs on confirm.
export function useConfirm() {
  const [state, setState] = useState(null);
  const [busy, setBusy] = useState(false);
  const ask = (opts) => setState(opts);
  const dialog = html`<${Confirm} open=${!!state} busy=${busy} ...${state || {}}
    onCancel=${() => setState(null)}
    onConfirm=${async () => {
      setBusy(true);
      try { await state.run(); } finally { setBusy(false); setState(null); }
    }} />`;
  return [ask, dialog];
}

export function Field({ label, name, value, onInput, error, type = 'text', hint, children, ...rest }) {
  return html`<label class=${'field' + (error ? ' invalid' : '')}>
    <span>${label}</span>
    ${children || html`<input name=${name} type=${type} value=${value}
        onInput=${(e) => onInput(name, e.target.value)} aria-invalid=${error ? 'true' : 'false'} ...${rest} />`}
    ${error ? html`<small class="error" data-error-for=${name}>${error}</small>` : hint && html`<small class="hint">${hint}</small>`}
  </label>`;
}

// on/off: the texts a flag stores for each state ("1"/"0" for most; the OLT's ONU-to-ONU switch
// is on only at "2", the value the line-card manager acts on).
export function Toggle({ label, name, value, onInput, error, hint, on = '1', off = '0' }) {
  return html`<label class=${'toggle' + (error ? ' invalid' : '')}>
    <input type="checkbox" name=${name} checked=${value === on} onChange=${(e) => onInput(name, e.target.checked ? on : off)} />
    <span>${label}</span>
    ${hint && !error && html`<small class="hint">${hint}</small>`}
    ${error && html`<small class="error" data-error-for=${name}>${error}</small>`}
  </label>`;
}

export function Badge({ kind, children }) {
  return html`<span class=${'badge ' + kind}>${children}</span>`;
}

export function linkStatus(status) {
  return status === '1' ? html`<${Badge} kind="ok">online</${Badge}>`
       : status === '2' || status === '0' ? html`<${Badge} kind="down">offline</${Badge}>`
       : html`<${Badge} kind="none">unknown</${Badge}>`;
}

export const dash = (v) => (v === undefined || v === null || v === '' ? '–' : v);
export const num = (v, unit) => {
  const n = parseFloat(v);
  return Number.isFinite(n) && v !== '-' ? `${n.toFixed(2)}${unit ? ' ' + unit : ''}` : '–';
};

export function Notice({ kind = 'info', children }) {
  return html`<div class=${'notice ' + kind} role=${kind === 'error' ? 'alert' : 'status'}>${children}</div>`;
}

// The member changes between the original and the edited record.
export function changes(original, edited, keys) {
  const out = {};
  for (const k of keys) if ((edited[k] ?? '') !== (original[k] ?? '')) out[k] = edited[k] ?? '';
  return out;
}

export function Spinner() { return html`<span class="spinner" aria-label="loading"></span>`; }

// The edit form of one table row (OLT or ONU page): the edited copy, its field errors, the
// result line, and saving only the changed members with PUT.
export function useRowEditor(path, row, keys, refresh) {
  const [form, setForm] = useState(null);
  const [errors, setErrors] = useState({});
  const [message, setMessage] = useState(null);
  useEffect(() => { if (row && !form) setForm({ ...row }); }, [row]);
  const edit = (k, v) => setForm({ ...form, [k]: v });
  const dirty = !!(row && form && Object.keys(changes(row, form, keys)).length > 0);
  const save = async (e) => {
    e.preventDefault();
    setErrors({}); setMessage(null);
    try {
      const saved = await put(path, changes(row, form, keys));
      setForm({ ...saved });
      setMessage({ kind: 'ok', text: 'Saved.' });
      refresh();
    } catch (err) { setErrors(err.fields || {}); setMessage({ kind: 'error', text: err.message }); }
  };
  const undo = () => { setForm({ ...row }); setErrors({}); };
  return { f: form || row, edit, errors, message, setMessage, dirty, save, undo };
}
