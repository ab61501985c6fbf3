// OLT table and the page of one OLT: identity, editable settings, optics of both PON
// ports with their history, and the OLT actions.
import { post, usePoll } from './api.js';
import { OpticsCharts } from './charts.js';
import { Field, Link, Notice, Spinner, Toggle, dash, html, linkStatus, num, useConfirm, useRowEditor } from './ui.js';

const editable = ['qvCfgOLTName', 'qvCfgOLTIpAddress', 'qvCfgOLTOnu2Onu', 'qvCfgOLTPON0VlanId',
  'qvCfgOLTPON0DisUntagged', 'qvCfgOLTPON1VlanId', 'qvCfgOLTPON1DisUntagged'];

const vlanText = (v) => (v === '' || v === '0' ? 'none' : v);

export function OltList() {
  const { data, error, loading } = usePoll(['/api/olttable', '/api/slottable', '/api/overview'], 5000);
  if (loading && !data) return html`<${Spinner} />`;
  if (!data) return html`<${Notice} kind="error">${error.message}</${Notice}>`;
  const [olts, slots, overview] = data;
  const slotOf = Object.fromEntries(slots.map((s) => [s.qvSlotIndex, s]));
  const portsOf = Object.fromEntries(overview.slots.map((s) => [s.slot, s.pons]));
  return html`<section class="panel"><h2>OLTs</h2>
    <div class="scroll"><table class="grid clickable" data-olt-table>
      <thead><tr><th>Slot</th><th>Status</th><th>Name</th><th>MAC</th><th>Firmware</th><th>IP address</th>
        <th>PON 0 ONUs</th><th>PON 1 ONUs</th><th>VLAN 0</th><th>VLAN 1</th></tr></thead>
      <tbody>${olts.map((o) => {
        const s = slotOf[o.qvCfgOLTSlotIndex] || {};
        const p = portsOf[o.qvCfgOLTSlotIndex] || [];
        return html`<tr key=${o.id}>
          <td><${Link} href=${'/olts/' + o.id}>${o.qvCfgOLTSlotIndex}</${Link}></td>
          <td>${linkStatus(s.qvSlotStatus)}</td><td>${o.qvCfgOLTName}</td>
          <td class="mono">${dash(o.qvCfgOLTMac)}</td><td>${dash(o.qvCfgOLTApp1Version)}</td>
          <td class="mono">${dash(o.qvCfgOLTIpAddress)}</td>
          ${[0, 1].map((i) => html`<td>${p[i] ? `${p[i].online}/${p[i].total}` : '–'}</td>`)}
          <td>${vlanText(o.qvCfgOLTPON0VlanId)}</td><td>${vlanText(o.qvCfgOLTPON1VlanId)}</td>
        </tr>`;
      })}</tbody></table></div></section>`;
}

const actions = [
  ['/api/slot/enable', 'Enable', 'Enable the OLT of slot %s?', false],
  ['/api/slot/disable', 'Disable', 'Disable the OLT of slot %s? Its ONUs lose service.', true],
  ['/api/slot/reset', 'Reset', 'Reset the OLT of slot %s? Its ONUs lose service until it is provisioned again.', true],
  ['/api/slot/restore-default', 'Restore defaults', 'Restore the factory defaults of the OLT of slot %s?', true],
];

export function OltPage({ id }) {
  const { data, error, refresh } = usePoll([`/api/olttable/${id}`, `/api/slottable/${id}`, '/api/moduleolttable'], 5000);
  const [ask, dialog] = useConfirm();
  const row = data && data[0];
  const { f, edit, errors, message, setMessage, dirty, save, undo } = useRowEditor(`/api/olttable/${id}`, row, editable, refresh);
  if (!data) return error ? html`<${Notice} kind="error">${error.message}</${Notice}>` : html`<${Spinner} />`;
  const [, slot, modules] = data;
  const slotNo = row.qvCfgOLTSlotIndex;
  const ports = [1, 2].map((p) => modules.find((m) => m.qvOpticModuleOltSlotIndex === slotNo && m.qvOpticModuleOltPonIndex === String(p)) || {});
  const act = ([path, label, question, danger]) => ask({
    title: `${label} slot ${slotNo}`, text: question.replace('%s', slotNo), confirmLabel: label, danger,
    run: async () => {
      try {
        await post(path, { slot_id: slotNo });
        setMessage({ kind: 'ok', text: `${label}: sent to the line card of slot ${slotNo}.` });
      } catch (err) { setMessage({ kind: 'error', text: err.message }); }
    },
  });
  return html`<p class="crumbs"><${Link} href="/olts">OLTs</${Link}> › Slot ${slotNo}</p>
    <section class="panel">
      <h2>OLT in slot ${slotNo} ${linkStatus(slot.qvSlotStatus)}</h2>
      <dl class="facts-list">
        <div><dt>MAC address</dt><dd class="mono">${dash(row.qvCfgOLTMac)}</dd></div>
        <div><dt>Firmware</dt><dd>${dash(row.qvCfgOLTApp1Version)}</dd></div>
        <div><dt>Card serial</dt><dd>${dash(slot.qvSlotCardSN)}</dd></div>
        <div><dt>MTU</dt><dd>${dash(row.qvCfgOLTMtu)}</dd></div>
        <div><dt>NVS</dt><dd>${row.qVCfgOLTNvsEnabled === '2' ? 'enabled' : 'disabled'}</dd></div>
      </dl>
      <div class="actions">${actions.map((a) => html`<button type="button" class=${a[3] ? 'danger-outline' : ''}
          onClick=${() => act(a)} data-action=${a[1]}>${a[1]}</button>`)}</div>
      ${message && html`<${Notice} kind=${message.kind}>${message.text}</${Notice}>`}
    </section>
    <form class="panel form" onSubmit=${save}>
      <h2>Settings</h2>
      <div class="form-grid">
        <${Field} label="Name" name="qvCfgOLTName" value=${f.qvCfgOLTName} onInput=${edit} error=${errors.qvCfgOLTName} maxlength="64" />
        <${Field} label="IP address" name="qvCfgOLTIpAddress" value=${f.qvCfgOLTIpAddress} onInput=${edit} error=${errors.qvCfgOLTIpAddress} inputmode="decimal" />
        <${Toggle} label="Traffic between ONUs allowed" name="qvCfgOLTOnu2Onu" on="2" off="1" value=${f.qvCfgOLTOnu2Onu} onInput=${edit} error=${errors.qvCfgOLTOnu2Onu}
          hint="The card takes it up when it is next provisioned: reset the slot to apply it now." />
      </div>
      <div class="form-grid">${[0, 1].map((p) => html`<fieldset><legend>PON ${p}</legend>
        <${Field} label="VLAN id" name=${`qvCfgOLTPON${p}VlanId`} value=${f[`qvCfgOLTPON${p}VlanId`]} onInput=${edit}
          error=${errors[`qvCfgOLTPON${p}VlanId`]} hint="1–4094; empty for none" inputmode="numeric" />
        <${Toggle} label="Discard untagged frames" name=${`qvCfgOLTPON${p}DisUntagged`} value=${f[`qvCfgOLTPON${p}DisUntagged`]}
          onInput=${edit} error=${errors[`qvCfgOLTPON${p}DisUntagged`]} />
      </fieldset>`)}</div>
      <div class="actions"><button class="primary" type="submit" disabled=${!dirty}>Save</button>
        <button type="button" disabled=${!dirty} onClick=${undo}>Undo</button></div>
    </form>
    <section class="panel"><h2>Optics</h2>
      <table class="grid"><thead><tr><th>Port</th><th>Tx power</th><th>Voltage</th><th>Bias</th><th>Temperature</th></tr></thead>
      <tbody>${ports.map((m, i) => html`<tr><td>PON ${i}</td><td>${num(m.qvOpticModuleOltTxPower, 'dBm')}</td>
        <td>${num(m.qvOpticModuleOltVcc, 'V')}</td><td>${num(m.qvOpticModuleOltTxBias, 'mA')}</td>
        <td>${num(m.qvOpticModuleOltTemperature, '°C')}</td></tr>`)}</tbody></table>
      ${[0, 1].map((p) => html`<h3>PON ${p} history</h3><${OpticsCharts} path=${`/api/history/olt/${slotNo}/${p}`} />`)}
    </section>
    ${dialog}`;
}
