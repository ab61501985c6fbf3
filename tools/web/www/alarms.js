// The alarm table (the newest 50 events the card keeps), newest first, in the card's
// local time, with filters.
import { useMemo, useState } from './lib/hooks.module.js';
import { usePoll } from './api.js';
import { AlarmRows } from './chassis.js';
import { Notice, Spinner, html } from './ui.js';

export function Alarms() {
  const { data, error, loading } = usePoll(['/api/oltalarmtable', '/api/systeminfo'], 5000);
  const [slot, setSlot] = useState('');
  const [state, setState] = useState('');
  const [text, setText] = useState('');
  const rows = useMemo(() => {
    if (!data) return [];
    const needle = text.trim().toLowerCase();
    return [...data[0]].reverse().filter((a) => (!slot || a.slot_id === slot) && (!state || a.state === state)
      && (!needle || a.label.toLowerCase().includes(needle) || a.alarm.toLowerCase().includes(needle)));
  }, [data, slot, state, text]);
  if (loading && !data) return html`<${Spinner} />`;
  if (!data) return html`<${Notice} kind="error">${error.message}</${Notice}>`;
  const tz = data[1].timezone;
  const states = [...new Set(data[0].map((a) => a.state))].sort();
  return html`<section class="panel"><h2>Alarms <span class="muted">${rows.length} of ${data[0].length} ·
      local time UTC${tz >= 0 ? '+' : ''}${tz}</span></h2>
    <div class="filters">
      <input type="search" placeholder="Search source or alarm" value=${text} onInput=${(e) => setText(e.target.value)} aria-label="Search" />
      <select value=${slot} onChange=${(e) => setSlot(e.target.value)} aria-label="Slot" data-filter-slot>
        <option value="">All slots</option>${[1, 2, 3, 4, 5, 6, 7, 8].map((s) => html`<option value=${s}>Slot ${s}</option>`)}</select>
      <select value=${state} onChange=${(e) => setState(e.target.value)} aria-label="State">
        <option value="">Any state</option>${states.map((s) => html`<option value=${s}>${s}</option>`)}</select>
    </div>
    <div class="scroll" data-alarm-table><${AlarmRows} alarms=${rows} /></div>
  </section>`;
}
