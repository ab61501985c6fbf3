// Optical history charts (uPlot, loaded as a plain script): transmit and receive power,
// voltage, bias current and temperature of one port or ONU over the server's 24 hours,
// with the time axis in the card's time zone.
import { useEffect, useRef } from './lib/hooks.module.js';
import { usePoll } from './api.js';
import { html, Notice } from './ui.js';

const charts = [
  { title: 'Optical power', unit: 'dBm', series: [['txPower', 'Tx', '#58a6ff'], ['rxPower', 'Rx', '#3fb950']] },
  { title: 'Voltage', unit: 'V', series: [['voltage', 'Vcc', '#d2a8ff']] },
  { title: 'Bias current', unit: 'mA', series: [['bias', 'Bias', '#d29922']] },
  { title: 'Temperature', unit: '°C', series: [['temperature', 'Temp', '#f85149']] },
];

function Chart({ kind, data, tz }) {
  const box = useRef(null);
  const plot = useRef(null);
  const series = kind.series.filter(([key]) => data[key] && data[key].some((v) => v !== null));
  const rows = [data.t, ...series.map(([key]) => data[key])];
  useEffect(() => {
    if (!box.current || !window.uPlot || !series.length) return undefined;
    const width = () => Math.max(240, box.current.clientWidth);
    // Etc/GMT zones count the other way round: UTC-3 is Etc/GMT+3.
    const zone = Number.isInteger(tz) && tz !== 0 ? `Etc/GMT${tz > 0 ? '-' : '+'}${Math.abs(tz)}` : 'UTC';
    const axis = { stroke: '#8b949e', grid: { stroke: '#21262d' }, ticks: { stroke: '#30363d' } };
    plot.current = new window.uPlot({
      width: width(), height: 160,
      tzDate: (ts) => window.uPlot.tzDate(new Date(ts * 1e3), zone),
      legend: { show: true },
      cursor: { drag: { x: true, y: false } },
      scales: { x: { time: true } },
      axes: [axis, { ...axis, size: 52, values: (u, vals) => vals.map((v) => v.toFixed(1)) }],
      series: [{}, ...series.map(([, label, color]) => ({ label: `${label} ${kind.unit}`, stroke: color, width: 1.5, spanGaps: false }))],
    }, rows, box.current);
    const resize = new ResizeObserver(() => plot.current && plot.current.setSize({ width: width(), height: 160 }));
    resize.observe(box.current);
    return () => { resize.disconnect(); plot.current.destroy(); plot.current = null; };
  }, [series.length, tz]);
  useEffect(() => { if (plot.current) plot.current.setData(rows); }, [data]);
  return html`<figure class="chart"><figcaption>${kind.title}</figcaption>
    ${series.length ? html`<div ref=${box}></div>` : html`<p class="muted">No values measured.</p>`}</figure>`;
}

export function OpticsCharts({ path }) {
  const { data, error } = usePoll(path, 30000);
  const info = usePoll('/api/systeminfo', 60000);
  const tz = info.data ? parseInt(info.data.timezone, 10) : 0;
  if (!data) return error ? html`<${Notice} kind="error">${error.message}</${Notice}>` : null;
  if (!data.t.length) return html`<p class="muted" data-history-empty>No samples yet: the server samples the optics every 30 s.</p>`;
  return html`<div class="charts" data-history=${data.t.length}>${charts.map((kind) => html`<${Chart} key=${kind.title} kind=${kind} data=${data} tz=${tz} />`)}</div>`;
}
