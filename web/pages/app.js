'use strict';
// The station's pages: the board pushed by the server's event stream, the rest asked for.

const COLUMNS = [
  ['flowRate', '瞬时流量'], ['flowSpeed', '流速'], ['inletTemp', '入口温度'],
  ['outletTemp', '出口温度'], ['forwardTotal', '正向累积'], ['reverseTotal', '反向累积'],
  ['heatPower', '瞬时热量'], ['coldPower', '瞬时冷量'], ['heatTotal', '累积热量'],
  ['coldTotal', '累积冷量'], ['status', '报警状态'],
];
const STATES = { ok: '正常', silent: '通讯中断', off: '未轮询' };
const ALARM_STATES = {
  'active-unacknowledged': '报警未确认', 'active-acknowledged': '报警已确认',
  'returned-unacknowledged': '已恢复未确认',
};

const $ = (id) => document.getElementById(id);

function cell(row, text, className) {
  const td = row.insertCell();
  td.textContent = text === undefined || text === null ? '' : String(text);
  if (className) td.className = className;
  return td;
}

function toLocalText(value) { return value ? value.replace('T', ' ') : ''; }
function toInputValue(date) {
  const p = (n) => String(n).padStart(2, '0');
  return `${date.getFullYear()}-${p(date.getMonth() + 1)}-${p(date.getDate())}T` +
         `${p(date.getHours())}:${p(date.getMinutes())}:${p(date.getSeconds())}`;
}
function periodParams(form) {
  const f = new FormData(form);
  const params = new URLSearchParams();
  params.set('from', toLocalText(f.get('from')));
  params.set('to', toLocalText(f.get('to')));
  params.set('meter', (f.get('meter') || '').trim());
  return params;
}
function presetPeriod(form, hoursBack) {
  const now = new Date();
  const from = new Date(now.getTime() - hoursBack * 3600 * 1000);
  if (hoursBack === 0) from.setHours(0, 0, 0, 0);
  form.elements.from.value = toInputValue(from);
  form.elements.to.value = toInputValue(now);
}

async function getJson(url) {
  const answer = await fetch(url, { credentials: 'same-origin' });
  if (answer.status === 401) { location.href = '/login'; throw new Error('请先登录'); }
  const body = await answer.json();
  if (!answer.ok) throw new Error(body.error || answer.statusText);
  return body;
}
function say(text) { $('message').textContent = text || ''; }

// The board.
function showBoard(board) {
  const head = $('boardTable').tHead;
  if (!head.rows.length) {
    const r = head.insertRow();
    ['表号', ...COLUMNS.map((c) => c[1]), '通讯'].forEach((t) => {
      const th = document.createElement('th'); th.textContent = t; r.appendChild(th);
    });
  }
  const body = $('boardTable').tBodies[0];
  body.textContent = '';
  for (const m of board.meters) {
    const shown = m.state !== 'off' || COLUMNS.some(([k]) => m.cells[k]);
    if (!shown) continue;
    const r = body.insertRow();
    r.className = `${m.state} ${m.alarm}`;
    r.dataset.meter = m.meter;
    cell(r, m.meter);
    for (const [key] of COLUMNS) cell(r, m.cells[key], key === 'status' ? 'status' : 'num');
    cell(r, STATES[m.state] || m.state, 'state');
  }
  const alarms = $('alarmTable').tBodies[0];
  alarms.textContent = '';
  for (const a of board.alarms) {
    const r = alarms.insertRow();
    r.className = a.state.endsWith('unacknowledged') ? 'unacknowledged' : 'acknowledged';
    cell(r, a.meter || '本站'); cell(r, a.kind); cell(r, ALARM_STATES[a.state] || a.state);
    cell(r, a.began); cell(r, a.ackUser ? `${a.ackUser} ${a.ackTime}` : '');
  }
  say(board.message);
  $('boardState').textContent = `更新于 ${new Date().toLocaleTimeString('zh-CN', { hour12: false })}`;
  document.body.dataset.boardUpdates = String(Number(document.body.dataset.boardUpdates || 0) + 1);
}

function watchBoard() {
  const stream = new EventSource('/api/events');
  stream.addEventListener('board', (e) => showBoard(JSON.parse(e.data)));
  stream.onerror = () => { $('boardState').textContent = '连接中断，正在重连…'; };
}

// The line's health.
async function showLine() {
  const line = await getJson('/api/line');
  const ms = (us) => (us === null || us === undefined ? '' : (us / 1000).toFixed(1));
  $('lineTotals').textContent =
    `轮询 ${line.ticks} 次，周期 ${ms(line.cycleLastUs)} ms（平均 ${ms(line.cycleMeanUs)}，` +
    `最长 ${ms(line.cycleMaxUs)}），发送 ${line.bytesOut} 字节，接收 ${line.bytesIn} 字节，` +
    `打开端口 ${line.opens} 次，失败 ${line.openFailures} 次`;
  const body = $('lineTable').tBodies[0];
  body.textContent = '';
  for (const m of line.meters) {
    const r = body.insertRow();
    [m.address, m.requests, m.answers, m.missed, m.late, m.rejected, m.consecutiveMisses,
     ms(m.responseLastUs), ms(m.responseMeanUs), ms(m.responseMaxUs)].forEach((v) => cell(r, v));
  }
}

// Energy per meter.
function showTable(table, captions, rows) {
  table.tHead.textContent = '';
  const h = table.tHead.insertRow();
  captions.forEach((t) => { const th = document.createElement('th'); th.textContent = t; h.appendChild(th); });
  const body = table.tBodies[0];
  body.textContent = '';
  rows.forEach((row) => { const r = body.insertRow(); row.forEach((v) => cell(r, v)); });
}
async function showEnergy(e) {
  if (e) e.preventDefault();
  const form = $('energyForm');
  const params = periodParams(form);
  $('energyCsv').href = `/api/energy.csv?${params}`;
  try {
    const answer = await getJson(`/api/energy?${params}`);
    showTable($('energyTable'), answer.captions, answer.rows);
    say('');
  } catch (err) { say(err.message); }
}

// A meter's trend, drawn with the chart library the station serves itself.
let chart = null;
function loadChartLibrary() {
  if (window.Chart) return Promise.resolve();
  return new Promise((resolve, reject) => {
    const s = document.createElement('script');
    s.src = '/chart.min.js'; s.onload = resolve; s.onerror = reject;
    document.head.appendChild(s);
  });
}
async function showTrend(e) {
  if (e) e.preventDefault();
  const form = $('trendForm');
  const params = periodParams(form);
  params.set('quantity', form.elements.quantity.value);
  try {
    await loadChartLibrary();
    const t = await getJson(`/api/trend?${params}`);
    const colours = ['#1f77b4', '#d62728'];
    const datasets = t.lines.map((line, i) => ({
      label: `${t.label} ${line.caption}` + (t.unit ? ` (${t.unit})` : ''),
      borderColor: colours[i % 2], pointRadius: 0, borderWidth: 1.5, spanGaps: false,
      data: line.runs.flatMap((run) => [...run.map(([x, y]) => ({ x, y })), { x: run.length ? run[run.length - 1][0] : 0, y: null }]),
    }));
    const format = (ms) => new Date(ms).toLocaleString('zh-CN', { hour12: false });
    if (chart) chart.destroy();
    chart = new window.Chart($('trendChart'), {
      type: 'line', data: { datasets },
      options: {
        animation: false, maintainAspectRatio: false, parsing: true, normalized: true,
        scales: { x: { type: 'linear', min: t.fromMs, max: t.toMs, ticks: { callback: format, maxTicksLimit: 6 } } },
        plugins: { tooltip: { callbacks: { title: (items) => items.length ? format(items[0].parsed.x) : '' } } },
      },
    });
    say(t.records ? '' : '这段时间没有记录');
  } catch (err) { say(err.message); }
}

// The event journal.
async function showJournal(e) {
  if (e) e.preventDefault();
  try {
    const answer = await getJson(`/api/journal?${periodParams($('journalForm'))}`);
    const body = $('journalTable').tBodies[0];
    body.textContent = '';
    for (const ev of answer.events.slice().reverse()) {
      const r = body.insertRow();
      cell(r, ev.time); cell(r, ev.meter ? ev.label : '本站'); cell(r, ev.kind); cell(r, ev.text); cell(r, ev.user);
    }
    say(answer.left ? `只显示最近的 ${answer.events.length} 条` : '');
  } catch (err) { say(err.message); }
}

let lineTimer = null;
function showTab() {
  const tab = (location.hash || '#board').slice(1);
  document.querySelectorAll('main > section').forEach((s) => { s.hidden = s.id !== tab; });
  document.querySelectorAll('nav a').forEach((a) => a.classList.toggle('active', a.dataset.tab === tab));
  clearInterval(lineTimer);
  if (tab === 'line') { showLine().catch((err) => say(err.message)); lineTimer = setInterval(() => showLine().catch(() => {}), 2000); }
}

async function start() {
  presetPeriod($('energyForm'), 0);
  presetPeriod($('trendForm'), 24);
  presetPeriod($('journalForm'), 24 * 7);
  $('energyForm').addEventListener('submit', showEnergy);
  $('trendForm').addEventListener('submit', showTrend);
  $('journalForm').addEventListener('submit', showJournal);
  $('energyCsv').addEventListener('click', () => { $('energyCsv').href = `/api/energy.csv?${periodParams($('energyForm'))}`; });
  window.addEventListener('hashchange', showTab);
  showTab();
  watchBoard();
  try {
    const quantities = await getJson('/api/quantities');
    const select = $('trendForm').elements.quantity;
    for (const q of quantities) select.add(new Option(q.caption, q.index));
  } catch (err) { say(err.message); }
}
document.addEventListener('DOMContentLoaded', start);
