// The operator console: one page, views chosen by the path, data polled from /api/.
import { render } from './lib/preact.module.js';
import { useEffect, useState } from './lib/hooks.module.js';
import { link as linkState, loadSession, onLinkChange, post } from './api.js';
import { html, Link } from './ui.js';
import { Chassis } from './chassis.js';
import { OltList, OltPage } from './olts.js';
import { OnuList, OnuPage } from './onus.js';
import { Alarms } from './alarms.js';
import { SystemPage } from './system.js';

// Every view of the console: its path (a pattern whose groups the view gets) and, for the
// views the navigation bar lists, its label. The server answers every such path with this
// page, so a new view is one entry here.
const routes = [
  { path: /^\/$/, nav: ['/', 'Chassis'], view: () => html`<${Chassis} />` },
  { path: /^\/olts$/, nav: ['/olts', 'OLTs'], view: () => html`<${OltList} />` },
  { path: /^\/olts\/([1-8])$/, view: (id) => html`<${OltPage} id=${id} />` },
  { path: /^\/onus$/, nav: ['/onus', 'ONUs'], view: () => html`<${OnuList} />` },
  { path: /^\/onus\/(\d+)$/, view: (id) => html`<${OnuPage} id=${id} />` },
  { path: /^\/alarms$/, nav: ['/alarms', 'Alarms'], view: () => html`<${Alarms} />` },
  { path: /^\/system$/, nav: ['/system', 'System'], view: () => html`<${SystemPage} />` },
];
const sections = routes.filter((r) => r.nav).map((r) => r.nav);

function route(path) {
  for (const r of routes) {
    const m = path.match(r.path);
    if (m) return r.view(...m.slice(1));
  }
  return html`<p>Nothing here. <${Link} href="/">Back to the chassis</${Link}></p>`;
}

function LinkBanner() {
  const [state, setState] = useState({ ...linkState });
  useEffect(() => onLinkChange(setState), []);
  if (!state.unreachable) return null;
  return html`<div class="banner" role="alert" data-unreachable>
    <b>The card's database is unreachable.</b> Retrying by itself; the values shown are the last ones read.
    <small class="detail">${state.message.replace(/^The card's database is unreachable: ?/, '')}</small>
  </div>`;
}

function App({ session }) {
  const [path, setPath] = useState(location.pathname);
  const [stale, setStale] = useState(false);
  useEffect(() => onLinkChange((l) => setStale(l.unreachable)), []);
  useEffect(() => {
    const on = () => { setPath(location.pathname); window.scrollTo(0, 0); };
    addEventListener('popstate', on);
    return () => removeEventListener('popstate', on);
  }, []);
  const active = (href) => (href === '/' ? path === '/' : path.startsWith(href));
  const logout = async () => {
    try { await post('/api/logout'); } finally { location.replace('/login'); }
  };
  return html`<header class="top">
      <${Link} href="/" class="brand"><span class="brand-mark" aria-hidden="true"></span>EPON chassis</${Link}>
      <nav>${sections.map(([href, label]) => html`<${Link} href=${href} class=${active(href) ? 'active' : ''}>${label}</${Link}>`)}</nav>
      <div class="who"><span class="muted">${session.user}</span>
        <button type="button" class="link" onClick=${logout} data-logout>Log out</button></div>
    </header>
    <${LinkBanner} />
    <main class=${stale ? 'view stale' : 'view'}>${route(path)}</main>`;
}

loadSession()
  .then((session) => {
    const box = document.getElementById('app');
    box.textContent = '';  // the static "Loading…" is not Preact's to keep
    render(html`<${App} session=${session} />`, box);
  })
  .catch((e) => {
    const box = document.getElementById('app');
    box.textContent = '';
    const p = document.createElement('p');
    p.className = 'boot';
    p.textContent = e.message;
    box.append(p);
  });
