// Chassis view: the eight slots as on the front of the chassis, each OLT's two PON ports
// with their ONU counts, the card's identity and the newest alarms.
import { usePoll } from './api.js';
import { html, Link, Notice, Spinner, dash, navigate } from './ui.js';

// Colour of a PON port: red when its slot is down, amber when some ONUs are offline,
// green when every ONU is online, grey without ONUs.
function portKind(slotUp, pon) {
  if (!slotUp) return 'down';
  if (pon.total === 0) return 'none';
  return pon.online === pon.total ? 'ok' : 'warn';
}

function Slot({ slot }) {
  const up = slot.status === '1';
  return html`<div class=${'slot ' + (up ? 'up' : 'down')} data-slot=${slot.slot}>
    <button type="button" class="slot-head" onClick=${() => navigate('/olts/' + slot.slot)}
        title=${'Slot ' + slot.slot + ': ' + (up ? 'online' : 'offline')}>
      <span class=${'led ' + (up ? 'ok' : 'down')}></span>
      <span class="slot-no">${slot.slot}</span>
      <span class="slot-state">${up ? 'online' : 'offline'}</span>
    </button>
    <div class="slot-name" title=${slot.name}>${slot.name || (up ? 'OLT ' + slot.slot : 'empty')}</div>
    <div class="slot-mac mono">${up ? dash(slot.mac) : ''}</div>
    <div class="ports">
      ${slot.pons.map((pon) => html`<button type="button" class=${'port ' + portKind(up, pon)}
          data-port=${slot.slot + '/' + pon.pon}
          onClick=${() => navigate(`/onus?slot=${slot.slot}&pon=${pon.pon}`)}
          title=${`PON ${pon.pon}: ${pon.online} of ${pon.total} ONUs online`}>
        <span class="port-label">PON ${pon.pon}</span>
        <span class="port-count"><b>${pon.online}</b>/${pon.total}</span>
        <span class="port-tx">${pon.txPower === null ? '–' : pon.txPower.toFixed(1) + ' dBm'}</span>
      </button>`)}
    </div>
    <div class="slot-fw muted">${up && slot.version ? 'fw ' + slot.version : ''}</div>
  </div>`;
}

export function AlarmRows({ alarms }) {
  if (!alarms.length) return html`<p class="muted">No alarms.</p>`;
  return html`<div class="scroll"><table class="grid alarms">
    <thead><tr><th>Time</th><th>Slot</th><th>Source</th><th>Alarm</th><th>State</th></tr></thead>
    <tbody>${alarms.map((a) => html`<tr key=${a.id}>
      <td class="mono nowrap" data-datetime>${a.datetime}</td><td>${a.slot || a.slot_id}</td>
      <td class="mono">${a.label}</td><td>${a.alarm}</td>
      <td><span class=${'badge ' + (a.state === 'on' ? 'down' : 'none')}>${a.state}</span></td>
    </tr>`)}</tbody></table></div>`;
}

export function Chassis() {
  const { data, error, loading } = usePoll('/api/overview', 5000);
  if (loading && !data) return html`<${Spinner} />`;
  if (!data) return html`<${Notice} kind="error">${error ? error.message : 'No data'}</${Notice}>`;
  const s = data.system;
  const online = data.slots.filter((x) => x.status === '1').length;
  return html`<section class="facts">
      <div><span>Product</span><b>${s.product}</b></div>
      <div><span>Firmware</span><b data-fw>${s.fwVersion}</b></div>
      <div><span>Uptime</span><b>${dash(s.uptime)}</b></div>
      <div><span>Local time</span><b class="mono">${dash(s.dateTime)}</b><small class="muted">UTC${s.timezone >= 0 ? '+' : ''}${s.timezone}</small></div>
      <div><span>Slots online</span><b data-slots-online>${online} / ${data.slots.length}</b></div>
      <div><span>ONUs online</span><b>${data.onus.online} / ${data.onus.total}</b></div>
    </section>
    <section class="panel">
      <h2>Chassis</h2>
      <div class="chassis" data-chassis>${data.slots.map((slot) => html`<${Slot} key=${slot.slot} slot=${slot} />`)}</div>
      <p class="legend muted">${[['ok', 'all ONUs online'], ['warn', 'some offline'], ['none', 'no ONUs'], ['down', 'slot offline']]
        .map(([kind, text]) => html`<span class="nowrap"><span class=${'dot ' + kind}></span> ${text}</span>`)}</p>
    </section>
    <section class="panel">
      <h2>Newest alarms <${Link} href="/alarms" class="more">all alarms</${Link}></h2>
      <${AlarmRows} alarms=${data.alarms} />
    </section>`;
}
