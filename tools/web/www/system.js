// System page: network, time, services and web port settings (errors next to their
// fields), the administrator's credentials, backup, restore, factory reset and reboot,
// and a watch that tells the operator when the card is back.
import { useEffect, useRef, useState } from './lib/hooks.module.js';
import { get, post, put, request, usePoll } from './api.js';
import { Field, Notice, Spinner, Toggle, changes, html, useConfirm } from './ui.js';

const keys = ['mgntIpAddr', 'mgntIpMask', 'mgntIpGateway', 'mgntIface', 'oltIpAddr', 'oltIpMask', 'oltIface',
  'ntpServer', 'enNtpServer', 'timezone', 'enSNMPAgent', 'webPort'];
const zones = Array.from({ length: 27 }, (_, i) => String(i - 12));

function Interfaces({ name, value, list, onInput, error, label }) {
  const options = [...new Set([...list, value].filter(Boolean))];
  return html`<${Field} label=${label} name=${name} error=${error}>
    <select name=${name} value=${value} onChange=${(e) => onInput(name, e.target.value)}>
      ${options.length ? options.map((i) => html`<option value=${i}>${i}</option>`) : html`<option value="">(no interface found)</option>`}</select></${Field}>`;
}

function Settings({ info, interfaces, refresh }) {
  const [form, setForm] = useState({ ...info });
  const [errors, setErrors] = useState({});
  const [message, setMessage] = useState(null);
  const edit = (k, v) => setForm({ ...form, [k]: v });
  const diff = changes(info, form, keys);
  const dirty = Object.keys(diff).length > 0;
  const save = async (e) => {
    e.preventDefault();
    setErrors({}); setMessage(null);
    try {
      const saved = await put('/api/systeminfo', diff);
      setForm({ ...saved });
      const later = ['mgntIpAddr', 'mgntIpMask', 'mgntIpGateway', 'mgntIface', 'oltIpAddr', 'oltIpMask', 'oltIface', 'webPort']
        .filter((k) => k in diff);
      setMessage({ kind: 'ok', text: 'Saved.' + (later.length ? ' Address, interface and port changes take effect when the card restarts.' : '') });
      refresh();
    } catch (err) { setErrors(err.fields || {}); setMessage({ kind: 'error', text: err.message }); }
  };
  const ifaces = Object.entries(interfaces).filter(([k]) => /^iface\d+$/.test(k)).map(([, v]) => v);
  const field = (label, name, extra = {}) => html`<${Field} label=${label} name=${name} value=${form[name]} onInput=${edit} error=${errors[name]} ...${extra} />`;
  return html`<form class="panel form" onSubmit=${save} data-settings>
    <h2>Settings</h2>
    <div class="form-grid">
      <fieldset><legend>Management network</legend>
        ${field('IP address', 'mgntIpAddr', { inputmode: 'decimal' })}${field('Netmask', 'mgntIpMask', { inputmode: 'decimal' })}
        ${field('Gateway', 'mgntIpGateway', { inputmode: 'decimal' })}
        <${Interfaces} label="Interface" name="mgntIface" value=${form.mgntIface} list=${ifaces} onInput=${edit} error=${errors.mgntIface} />
      </fieldset>
      <fieldset><legend>Chassis network (towards the line cards)</legend>
        ${field('IP address', 'oltIpAddr', { inputmode: 'decimal' })}${field('Netmask', 'oltIpMask', { inputmode: 'decimal' })}
        <${Interfaces} label="Interface" name="oltIface" value=${form.oltIface} list=${ifaces} onInput=${edit} error=${errors.oltIface} />
      </fieldset>
      <fieldset><legend>Time</legend>
        <${Toggle} label="Synchronise with NTP" name="enNtpServer" value=${form.enNtpServer} onInput=${edit} error=${errors.enNtpServer} />
        ${field('NTP server', 'ntpServer', { inputmode: 'decimal' })}
        <${Field} label="Time zone" name="timezone" error=${errors.timezone}>
          <select name="timezone" value=${form.timezone} onChange=${(e) => edit('timezone', e.target.value)} data-timezone>
            ${zones.map((z) => html`<option value=${z}>UTC${+z >= 0 ? '+' : ''}${z}</option>`)}</select></${Field}>
      </fieldset>
      <fieldset><legend>Services</legend>
        <${Toggle} label="SNMP agent (at start-up)" name="enSNMPAgent" value=${form.enSNMPAgent} onInput=${edit} error=${errors.enSNMPAgent} />
        ${field('Web port', 'webPort', { inputmode: 'numeric', hint: 'Takes effect when the web server restarts' })}
      </fieldset>
    </div>
    ${message && html`<${Notice} kind=${message.kind}>${message.text}</${Notice}>`}
    <div class="actions"><button class="primary" type="submit" disabled=${!dirty} data-save-settings>Save</button>
      <button type="button" disabled=${!dirty} onClick=${() => { setForm({ ...info }); setErrors({}); setMessage(null); }}>Undo</button></div>
  </form>`;
}

function Credentials() {
  const [form, setForm] = useState({ currentPassword: '', user: '', password: '', repeat: '' });
  const [errors, setErrors] = useState({});
  const [message, setMessage] = useState(null);
  const edit = (k, v) => setForm({ ...form, [k]: v });
  const save = async (e) => {
    e.preventDefault();
    setErrors({}); setMessage(null);
    if (form.password !== form.repeat) { setErrors({ repeat: 'The two passwords differ' }); return; }
    try {
      await post('/api/credentials', { currentPassword: form.currentPassword, user: form.user, password: form.password });
      setForm({ currentPassword: '', user: '', password: '', repeat: '' });
      setMessage({ kind: 'ok', text: 'Credentials changed. Other sessions were signed out.' });
    } catch (err) { setErrors(err.fields || {}); setMessage({ kind: 'error', text: err.message }); }
  };
  return html`<form class="panel form" onSubmit=${save} autocomplete="off">
    <h2>Administrator</h2>
    <div class="form-grid">
      <${Field} label="Current password" name="currentPassword" type="password" value=${form.currentPassword} onInput=${edit} error=${errors.currentPassword} autocomplete="current-password" />
      <${Field} label="New user name" name="user" value=${form.user} onInput=${edit} error=${errors.user} autocomplete="username" />
      <${Field} label="New password" name="password" type="password" value=${form.password} onInput=${edit} error=${errors.password} hint="At least 8 characters" autocomplete="new-password" />
      <${Field} label="Repeat new password" name="repeat" type="password" value=${form.repeat} onInput=${edit} error=${errors.repeat} autocomplete="new-password" />
    </div>
    ${message && html`<${Notice} kind=${message.kind}>${message.text}</${Notice}>`}
    <div class="actions"><button class="primary" type="submit" disabled=${!form.currentPassword || !form.user || !form.password}>Change credentials</button></div>
  </form>`;
}

// After a reboot, restore or factory reset: wait for the card to go away, then to answer
// again with a fresh uptime.
function RestartWatch({ what, since }) {
  const [phase, setPhase] = useState('waiting');
  const seenDown = useRef(false);
  useEffect(() => {
    let stop = false;
    const poll = async () => {
      while (!stop) {
        try {
          const info = await get('/api/systeminfo');
          if (seenDown.current) { setPhase('back:' + (info.uptime || '')); return; }
          if (Date.now() - since > 180000) { setPhase('stuck'); return; }
        } catch (e) {
          if (e.status === 503 || e.status === 0) { seenDown.current = true; setPhase('down'); }
        }
        await new Promise((r) => setTimeout(r, 2000));
      }
    };
    poll();
    return () => { stop = true; };
  }, []);
  if (phase.startsWith('back')) return html`<${Notice} kind="ok"><b data-card-back>The card is back.</b> ${what} done; uptime ${phase.slice(5) || 'unknown'}. <a href="/">Reload the console</a></${Notice}>`;
  if (phase === 'down') return html`<${Notice} kind="warn">${what}: the card is restarting… this page notices when it is back.</${Notice}>`;
  if (phase === 'stuck') return html`<${Notice} kind="error">${what}: the card still answers as before after 3 minutes; it may not have restarted.</${Notice}>`;
  return html`<${Notice} kind="warn">${what}: requested; waiting for the card to restart…</${Notice}>`;
}

function Maintenance() {
  const [ask, dialog] = useConfirm();
  const [message, setMessage] = useState(null);
  const [restart, setRestart] = useState(null);
  const [file, setFile] = useState(null);
  const [downloading, setDownloading] = useState(false);
  const fileInput = useRef(null);
  const backup = async () => {
    setDownloading(true); setMessage(null);
    try {
      const res = await fetch('/api/backup', { credentials: 'same-origin' });
      if (!res.ok) throw new Error((await res.json().catch(() => ({}))).error || `Backup failed (${res.status})`);
      const name = (res.headers.get('Content-Disposition') || '').match(/filename="([^"]+)"/);
      const url = URL.createObjectURL(await res.blob());
      const a = document.createElement('a');
      a.href = url; a.download = name ? name[1] : 'ponmc-backup.tar';
      document.body.append(a); a.click(); a.remove();
      setTimeout(() => URL.revokeObjectURL(url), 10000);
      setMessage({ kind: 'ok', text: 'Backup downloaded.' });
    } catch (err) { setMessage({ kind: 'error', text: err.message }); }
    finally { setDownloading(false); }
  };
  const start = (what) => setRestart({ what, since: Date.now() });
  const flag = (path, what, text, typed) => ask({
    title: what, text, confirmLabel: what, danger: true, typed,
    run: async () => {
      try { await post(path); start(what); } catch (err) { setMessage({ kind: 'error', text: err.message }); }
    },
  });
  const restore = () => ask({
    title: 'Restore configuration', danger: true, confirmLabel: 'Restore', typed: 'RESTORE',
    text: `Replace the whole configuration with ${file.name} and restart the card? The current configuration is lost.`,
    run: async () => {
      try { await request('POST', '/api/restore', file); start('Restore'); }
      catch (err) { setMessage({ kind: 'error', text: err.message }); }
    },
  });
  return html`<section class="panel"><h2>Maintenance</h2>
    <div class="maint">
      <div><h3>Backup</h3><p class="muted">The configuration tables as one archive.</p>
        <button type="button" onClick=${backup} disabled=${downloading} data-backup>${downloading ? 'Preparing…' : 'Download backup'}</button></div>
      <div><h3>Restore</h3><p class="muted">From a backup archive of this card; the card restarts.</p>
        <input type="file" ref=${fileInput} onChange=${(e) => setFile(e.target.files[0] || null)} data-restore-file />
        <button type="button" class="danger-outline" disabled=${!file} onClick=${restore}>Restore…</button></div>
      <div><h3>Reboot</h3><p class="muted">Restart the management card.</p>
        <button type="button" class="danger-outline" onClick=${() => flag('/api/reboot', 'Reboot', 'Reboot the management card? The console and SNMP are away for about a minute; the line cards keep forwarding.')} data-reboot>Reboot…</button></div>
      <div><h3>Factory reset</h3><p class="muted">Delete every table and setting; the card restarts with defaults.</p>
        <button type="button" class="danger" onClick=${() => flag('/api/factory-reset', 'Factory reset', 'Delete the whole configuration of the card and restart it with factory defaults?', 'RESET')}>Factory reset…</button></div>
    </div>
    ${message && html`<${Notice} kind=${message.kind}>${message.text}</${Notice}>`}
    ${restart && html`<${RestartWatch} what=${restart.what} since=${restart.since} />`}
    ${dialog}
  </section>`;
}

export function SystemPage() {
  const { data, error, loading, refresh } = usePoll(['/api/systeminfo', '/api/network-interfaces'], 15000);
  if (loading && !data) return html`<${Spinner} />`;
  if (!data) return html`<${Notice} kind="error">${error.message}</${Notice}>`;
  const [info, interfaces] = data;
  return html`<section class="facts">
      <div><span>Product</span><b>${info.product}</b></div>
      <div><span>Firmware</span><b>${info.fwVersion}</b></div>
      <div><span>Serial number</span><b>${info.serialNumber}</b></div>
      <div><span>Uptime</span><b>${info.uptime || '–'}</b></div>
      <div><span>Local time</span><b class="mono">${info.dateTime || '–'}</b></div>
    </section>
    <${Settings} info=${info} interfaces=${interfaces} refresh=${refresh} />
    <${Credentials} />
    <${Maintenance} />`;
}
