// ONU table (search, filters, sorting) and the page of one ONU: settings, link state,
// optics with history, and the actions reset and remove.
import { useEffect, useMemo, useState } from './lib/hooks.module.js';
import { post, usePoll } from './api.js';
import { OpticsCharts } from './charts.js';
import { Field, Link, Notice, Spinner, Toggle, dash, html, linkStatus, navigate, num, useConfirm, useRowEditor } from './ui.js';

const PAGE = 200;

function statusOf(o) {
  if (o.qvCfgONUEnabled !== '1') return 'disabled';
  return o.qvCfgONULinkStatus === '1' ? 'online' : 'offline';
}

const columns = [
  ['place', 'Slot/PON/#', (o) => [+o.qvCfgONUSlotIndex, +o.qvCfgONUPonIndex, +o.qvCfgONUIndex]],
  ['mac', 'MAC', (o) => o.qvCfgONUPhysicalID],
  ['name', 'Name', (o) => o.qvCfgONUName.toLowerCase()],
  ['status', 'Status', statusOf],
  ['vlan', 'VLAN', (o) => +o.qvCfgONUVlanId || 0],
  ['rx', 'Rx power', (o) => (o.rx === null ? -1e9 : o.rx)],
  ['alarm', 'Alarm', (o) => o.qvCfgONUAlarm],
];

function compare(a, b) {
  if (Array.isArray(a)) { for (let i = 0; i < a.length; i++) { const c = compare(a[i], b[i]); if (c) return c; } return 0; }
  return a < b ? -1 : a > b ? 1 : 0;
}

function query() { return new URLSearchParams(location.search); }

export function OnuList() {
  const { data, error, loading } = usePoll(['/api/onutable', '/api/moduleonutable'], 5000);
  const q = query();
  const [text, setText] = useState(q.get('q') || '');
  const [slot, setSlot] = useState(q.get('slot') || '');
  const [pon, setPon] = useState(q.get('pon') || '');
  const [status, setStatus] = useState(q.get('status') || '');
  const [sort, setSort] = useState(['place', 1]);
  const [shown, setShown] = useState(PAGE);
  // Keep the filters in the address, so a link or a reload shows the same list.
  useEffect(() => {
    const p = new URLSearchParams();
    if (text) p.set('q', text); if (slot) p.set('slot', slot); if (pon) p.set('pon', pon); if (status) p.set('status', status);
    const s = p.toString();
    history.replaceState(null, '', '/onus' + (s ? '?' + s : ''));
  }, [text, slot, pon, status]);
  const rows = useMemo(() => {
    if (!data) return [];
    const [onus, modules] = data;
    const rx = Object.fromEntries(modules.map((m) => [m.qvOpticModuleOnuPhysicalID, parseFloat(m.qvOpticModuleOnuRxPower)]));
    const needle = text.trim().toLowerCase();
    const col = columns.find((c) => c[0] === sort[0]);
    return onus.map((o) => ({ ...o, rx: Number.isFinite(rx[o.qvCfgONUPhysicalID]) ? rx[o.qvCfgONUPhysicalID] : null }))
      .filter((o) => (!slot || o.qvCfgONUSlotIndex === slot) && (!pon || o.qvCfgONUPonIndex === pon)
        && (!status || statusOf(o) === status)
        && (!needle || o.qvCfgONUName.toLowerCase().includes(needle) || o.qvCfgONUPhysicalID.toLowerCase().includes(needle)))
      .sort((a, b) => sort[1] * compare(col[2](a), col[2](b)));
  }, [data, text, slot, pon, status, sort]);
  if (loading && !data) return html`<${Spinner} />`;
  if (!data) return html`<${Notice} kind="error">${error.message}</${Notice}>`;
  const by = (key) => setSort(sort[0] === key ? [key, -sort[1]] : [key, 1]);
  return html`<section class="panel"><h2>ONUs <span class="muted" data-onu-count>${rows.length} of ${data[0].length}</span></h2>
    <div class="filters">
      <input type="search" placeholder="Search name or MAC" value=${text} onInput=${(e) => setText(e.target.value)} aria-label="Search" data-search />
      <select value=${slot} onChange=${(e) => setSlot(e.target.value)} aria-label="Slot" data-filter-slot>
        <option value="">All slots</option>${[1, 2, 3, 4, 5, 6, 7, 8].map((s) => html`<option value=${s}>Slot ${s}</option>`)}</select>
      <select value=${pon} onChange=${(e) => setPon(e.target.value)} aria-label="PON port" data-filter-pon>
        <option value="">Both PON ports</option><option value="0">PON 0</option><option value="1">PON 1</option></select>
      <select value=${status} onChange=${(e) => setStatus(e.target.value)} aria-label="Status" data-filter-status>
        <option value="">Any status</option><option value="online">Online</option><option value="offline">Offline</option>
        <option value="disabled">Disabled</option></select>
    </div>
    <div class="scroll"><table class="grid clickable" data-onu-table>
      <thead><tr>${columns.map(([key, label]) => html`<th aria-sort=${sort[0] === key ? (sort[1] > 0 ? 'ascending' : 'descending') : 'none'}>
        <button type="button" class="sort" onClick=${() => by(key)}>${label}${sort[0] === key ? (sort[1] > 0 ? ' ▲' : ' ▼') : ''}</button></th>`)}</tr></thead>
      <tbody>${rows.slice(0, shown).map((o) => html`<tr key=${o.id} data-onu=${o.id} onClick=${() => navigate('/onus/' + o.id)}>
        <td class="nowrap">${o.qvCfgONUSlotIndex}/${o.qvCfgONUPonIndex}/${o.qvCfgONUIndex}</td>
        <td class="mono">${o.qvCfgONUPhysicalID}</td>
        <td data-name>${o.qvCfgONUName}</td>
        <td><span class=${'badge ' + { online: 'ok', offline: 'down', disabled: 'warn' }[statusOf(o)]}>${statusOf(o)}</span></td>
        <td>${o.qvCfgONUVlanId === '' || o.qvCfgONUVlanId === '0' ? '–' : o.qvCfgONUVlanId}</td>
        <td class="nowrap">${o.rx === null ? '–' : o.rx.toFixed(2) + ' dBm'}</td>
        <td>${o.qvCfgONUAlarm}</td></tr>`)}</tbody></table></div>
    ${rows.length > shown && html`<button type="button" class="more-rows" onClick=${() => setShown(shown + PAGE)}>Show ${Math.min(PAGE, rows.length - shown)} more</button>`}
    ${rows.length === 0 && html`<p class="muted">No ONU matches.</p>`}
  </section>`;
}

const editable = ['qvCfgONUName', 'qvCfgONUVlanId', 'qvCfgONUEnabled'];

export function OnuPage({ id }) {
  const { data, error, refresh } = usePoll([`/api/onutable/${id}`, '/api/moduleonutable'], 5000);
  const [ask, dialog] = useConfirm();
  const row = data && data[0];
  const { f, edit, errors, message, setMessage, dirty, save, undo } = useRowEditor(`/api/onutable/${id}`, row, editable, refresh);
  if (!data) {
    if (error && error.status === 404) return html`<p>This ONU is no longer in the table. <${Link} href="/onus">All ONUs</${Link}></p>`;
    return error ? html`<${Notice} kind="error">${error.message}</${Notice}>` : html`<${Spinner} />`;
  }
  const module = data[1].find((m) => m.qvOpticModuleOnuPhysicalID === row.qvCfgONUPhysicalID) || {};
  const target = { slot_id: row.qvCfgONUSlotIndex, mac_address: row.qvCfgONUPhysicalID };
  const reset = () => ask({
    title: 'Reset ONU', text: `Reset ONU ${row.qvCfgONUPhysicalID}? Its subscriber loses service while it restarts.`,
    confirmLabel: 'Reset', danger: true,
    run: async () => {
      try { await post('/api/slot/onu/reset', target); setMessage({ kind: 'ok', text: 'Reset sent to the line card.' }); }
      catch (err) { setMessage({ kind: 'error', text: err.message }); }
    },
  });
  const remove = () => ask({
    title: 'Remove ONU', text: `Remove ONU ${row.qvCfgONUPhysicalID} from slot ${row.qvCfgONUSlotIndex}? Its provisioning is cleared; it is treated as new if it registers again.`,
    confirmLabel: 'Remove', danger: true, typed: 'REMOVE',
    run: async () => {
      try { await post('/api/slot/onu/remove', target); navigate('/onus'); }
      catch (err) { setMessage({ kind: 'error', text: err.message }); }
    },
  });
  return html`<p class="crumbs"><${Link} href="/onus">ONUs</${Link}> › <span class="mono">${row.qvCfgONUPhysicalID}</span></p>
    <section class="panel">
      <h2><span data-onu-title>${row.qvCfgONUName || 'ONU'}</span> ${linkStatus(row.qvCfgONULinkStatus)}
        ${row.qvCfgONUEnabled !== '1' && html`<span class="badge warn">traffic disabled</span>`}</h2>
      <dl class="facts-list">
        <div><dt>MAC address</dt><dd class="mono">${row.qvCfgONUPhysicalID}</dd></div>
        <div><dt>Slot / PON / index</dt><dd><${Link} href=${'/olts/' + row.qvCfgONUSlotIndex}>${row.qvCfgONUSlotIndex}</${Link}> / ${row.qvCfgONUPonIndex} / ${dash(row.qvCfgONUIndex)}</dd></div>
        <div><dt>Gigabit</dt><dd>${row.qvCfgONUGigabitStatus === '1' ? 'yes' : 'no'}</dd></div>
        <div><dt>Alarm</dt><dd>${dash(row.qvCfgONUAlarm)}</dd></div>
      </dl>
      <div class="actions"><button type="button" class="danger-outline" onClick=${reset} data-action="Reset">Reset</button>
        <button type="button" class="danger-outline" onClick=${remove} data-action="Remove">Remove</button></div>
      ${message && html`<${Notice} kind=${message.kind}>${message.text}</${Notice}>`}
    </section>
    <form class="panel form" onSubmit=${save}>
      <h2>Settings</h2>
      <div class="form-grid">
        <${Field} label="Name" name="qvCfgONUName" value=${f.qvCfgONUName} onInput=${edit} error=${errors.qvCfgONUName} maxlength="64" />
        <${Field} label="VLAN id" name="qvCfgONUVlanId" value=${f.qvCfgONUVlanId} onInput=${edit} error=${errors.qvCfgONUVlanId}
          hint="1–4094; empty or 0 for none" inputmode="numeric" />
        <${Toggle} label="Traffic enabled" name="qvCfgONUEnabled" value=${f.qvCfgONUEnabled} onInput=${edit} error=${errors.qvCfgONUEnabled} />
      </div>
      <div class="actions"><button class="primary" type="submit" disabled=${!dirty}>Save</button>
        <button type="button" disabled=${!dirty} onClick=${undo}>Undo</button></div>
    </form>
    <section class="panel"><h2>Optics</h2>
      <dl class="facts-list">
        <div><dt>Tx power</dt><dd>${num(module.qvOpticModuleOnuTxPower, 'dBm')}</dd></div>
        <div><dt>Rx power</dt><dd>${num(module.qvOpticModuleOnuRxPower, 'dBm')}</dd></div>
        <div><dt>Voltage</dt><dd>${num(module.qvOpticModuleOnuVcc, 'V')}</dd></div>
        <div><dt>Bias</dt><dd>${num(module.qvOpticModuleOnuTxBias, 'mA')}</dd></div>
        <div><dt>Temperature</dt><dd>${num(module.qvOpticModuleOnuTemperature, '°C')}</dd></div>
      </dl>
      <${OpticsCharts} path=${'/api/history/onu/' + row.qvCfgONUPhysicalID} />
    </section>
    ${dialog}`;
}
