// The mesh page. It asks the daemon for "/ui/mesh" every 1.5 s with the entity tag of
// the copy it has (If-None-Match): an unchanged mesh is answered 304 and costs nothing
// more; a changed one is drawn again. Every text that comes from the network (SSIDs,
// names, models, host names) goes into the page as text (textContent, createTextNode),
// never as markup; the Content-Security-Policy allows this file and the style sheet only.
'use strict';
(function () {
  const POLL_MS = 1500;         // while the page is seen: a change shows within 2 s
  const HIDDEN_POLL_MS = 5000;  // while its tab is hidden
  const SVG = 'http://www.w3.org/2000/svg';
  const BOX_W = 270, BOX_H = 50, ROW_H = 15, GAP_X = 30, GAP_Y = 64, MARGIN = 16;

  const $ = (id) => document.getElementById(id);
  let etag = null;        // of the copy drawn
  let mesh = null;        // the last document
  let fetchedAt = 0;      // Date.now() when it came
  let selected = null;    // {kind: 'device' | 'client', mac, device}
  let detailUrl = null;

  // ---- building elements: text only, attributes from a fixed set ----
  function el(tag, cls, text) {
    const e = document.createElement(tag);
    if (cls) e.className = cls;
    if (text !== undefined && text !== null) e.textContent = String(text);
    return e;
  }
  function sv(tag, attrs, text) {
    const e = document.createElementNS(SVG, tag);
    for (const k in attrs) e.setAttribute(k, attrs[k]);
    if (text !== undefined) e.textContent = String(text);
    return e;
  }
  function row(tbody, cells, cls) {
    const tr = el('tr', cls);
    for (const c of cells) {
      const td = el('td');
      if (c instanceof Node) td.appendChild(c); else td.textContent = c === undefined || c === null ? '' : String(c);
      tr.appendChild(td);
    }
    tbody.appendChild(tr);
    return tr;
  }
  function clear(e) { while (e.firstChild) e.removeChild(e.firstChild); }
  // At most N characters (code points: a pair of surrogates stays whole) of S on a drawing.
  function cut(s, n) { const a = Array.from(String(s)); return a.length > n ? a.slice(0, n - 1).join('') + '…' : a.join(''); }

  // ---- texts ----
  function mac(m) { return m ? String(m).replace(/(..)(?!$)/g, '$1:') : ''; }
  function bare(s) { return String(s).toLowerCase().replace(/[^0-9a-f]/g, ''); }
  function band(medium) {
    const m = String(medium || '');
    if (m === 'ETHERNET') return 'Ethernet';
    if (m === 'WIFI_2G') return '2.4 GHz';
    if (m.indexOf('WIFI_5G') === 0) return '5 GHz';
    if (m === 'WIFI_6G') return '6 GHz';
    return m.indexOf('WIFI') === 0 ? 'Wi-Fi' : '';
  }
  function age(ms) {
    if (ms === null || ms === undefined || ms < 0) return 'never';
    const s = Math.round(ms / 1000);
    return s < 120 ? s + ' s ago' : Math.round(s / 60) + ' min ago';
  }
  // An age that keeps counting between documents.
  function ageSpan(ms) {
    const s = el('span', null, age(ms));
    if (ms !== null && ms !== undefined && ms >= 0) s.dataset.ago = String(ms);
    return s;
  }
  function tickAges() {
    const since = Date.now() - fetchedAt;
    for (const s of document.querySelectorAll('[data-ago]')) s.textContent = age(Number(s.dataset.ago) + since);
  }
  function onOff(v, on, off) { return el('span', v ? 'on' : 'off', v ? on || 'yes' : off || 'no'); }
  function nw(text) { return el('span', 'nw', text); }  // kept on one line
  function label(d) {
    if (d.role === 'controller') return 'Controller';
    return (d.info && d.info['device-name']) || d.name || mac(d['al-mac']);
  }

  // ---- the document's relations ----
  function index(m) {
    const byMac = new Map(), bssOf = new Map(), radioOf = new Map(), children = new Map([['', []]]);
    for (const d of m.devices) byMac.set(d['al-mac'], d);
    for (const d of m.devices) {
      for (const r of d.radios || []) radioOf.set(r['radio-id'], r);
      for (const b of d.ssids || []) bssOf.set(b.bssid, {bss: b, device: d});
      const bh = d.backhaul || {};
      const p = bh.connected && byMac.has(bh['remote-ale']) && bh['remote-ale'] !== d['al-mac'] ? bh['remote-ale'] : '';
      d._parent = p;
      if (!children.has(p)) children.set(p, []);
      children.get(p).push(d);
    }
    // A device whose chain of parents loops is drawn at the top.
    for (const d of m.devices) {
      const seen = new Set([d]);
      for (let p = byMac.get(d._parent); p; p = byMac.get(p._parent)) {
        if (seen.has(p)) { children.get(d._parent).splice(children.get(d._parent).indexOf(d), 1); d._parent = ''; children.get('').push(d); break; }
        seen.add(p);
      }
    }
    return {byMac, bssOf, radioOf, children};
  }
  function bssText(ix, bssid) {
    const b = ix.bssOf.get(bssid);
    if (!b) return {ssid: '', band: '', channel: ''};
    const r = ix.radioOf.get(b.bss['radio-id']);
    return {ssid: b.bss.ssid, band: band(b.bss.medium), channel: r && r.channel ? r.channel : '', backhaul: b.bss.backhaul};
  }

  // ---- the drawing ----
  // DEVICE's BSSs with their clients: [[bssid, [client...]]...] (a client of a BSS the
  // device did not report comes last).
  function clientGroups(d) {
    const groups = new Map();
    for (const b of d.ssids || []) groups.set(b.bssid, []);
    for (const c of d.clients || []) {
      if (!groups.has(c.bssid)) groups.set(c.bssid, []);
      groups.get(c.bssid).push(c);
    }
    return [...groups];
  }
  function blockHeight(d) {
    let h = BOX_H;
    for (const [, cs] of clientGroups(d)) h += ROW_H * (cs.length + 1);
    return h + 6;
  }
  function layout(ix) {
    const pos = new Map();
    const width = (d) => {
      const kids = ix.children.get(d['al-mac']) || [];
      const w = kids.reduce((s, k) => s + width(k) + GAP_X, -GAP_X);
      d._w = Math.max(BOX_W, w);
      return d._w;
    };
    const place = (d, x, y) => {
      pos.set(d['al-mac'], {x: x + (d._w - BOX_W) / 2, y: y});
      let cx = x;
      const below = y + blockHeight(d) + GAP_Y;
      for (const k of ix.children.get(d['al-mac']) || []) { place(k, cx, below); cx += k._w + GAP_X; }
    };
    let x = MARGIN;
    for (const d of ix.children.get('') || []) { width(d); place(d, x, MARGIN); x += d._w + GAP_X; }
    return pos;
  }
  function drawLink(g, ix, d, from, to) {
    const bh = d.backhaul || {};
    const wifi = String(bh.medium).indexOf('WIFI') === 0;
    const q = String(bh.quality || '').toLowerCase();
    const grp = sv('g', {class: 'link ' + (q === 'good' || q === 'normal' ? q : 'bad') + (wifi ? ' wifi' : '')});
    grp.appendChild(sv('line', {class: 'edge', x1: from.x, y1: from.y, x2: to.x, y2: to.y}));
    const up = d.uplink || {};
    const parts1 = [band(bh.medium) || 'link'];
    if (up.channel) parts1.push('ch ' + up.channel);
    const parts2 = [];
    if (wifi && bh['uplink-rssi'] !== 255 && bh['uplink-rssi'] !== undefined) parts2.push(bh['uplink-rssi'] + ' dBm');
    if (up['rate-mbps']) parts2.push(up['rate-mbps'] + ' Mb/s');
    parts2.push('cost ' + bh['cost-to-parent']);
    const lx = from.x + (to.x - from.x) * 0.6 + 8, ly = from.y + (to.y - from.y) * 0.6 - 6;
    const t = sv('text', {class: 'label', x: lx, y: ly});
    t.appendChild(sv('tspan', {x: lx}, parts1.join(' · ')));
    t.appendChild(sv('tspan', {x: lx, dy: 13}, parts2.join(' · ')));
    grp.appendChild(t);
    g.appendChild(grp);
  }
  function drawDevice(g, ix, d, p) {
    const ext = d.extender;
    const off = ext && !ext.online;
    const grp = sv('g', {class: 'dev ' + (d.role || '') + (off ? ' offline' : ''), 'data-kind': 'device', 'data-mac': d['al-mac'], 'data-parent': d._parent});
    grp.appendChild(sv('title', {}, label(d) + ' ' + mac(d['al-mac'])));
    grp.appendChild(sv('rect', {x: p.x, y: p.y, width: BOX_W, height: BOX_H}));
    const info = d.info || {};
    grp.appendChild(sv('text', {class: 'name', x: p.x + 8, y: p.y + 16}, cut(label(d), 36)));
    const sub = d.role === 'controller' ? 'this daemon'
      : [info['model-name'], ext ? ext['serial-number'] : info['serial-number']].filter((s) => s).join(' · ');
    grp.appendChild(sv('text', {x: p.x + 8, y: p.y + 30}, cut(sub, 42)));
    const state = ext ? ext['onboarding-state'] + (ext.online ? ', online' : ', offline') : d.role;
    grp.appendChild(sv('text', {class: 'mono', x: p.x + 8, y: p.y + 43}, mac(d['al-mac']) + '  ' + cut(state, 20)));
    g.appendChild(grp);
    let y = p.y + BOX_H + 13;
    for (const [bssid, cs] of clientGroups(d)) {
      const b = bssText(ix, bssid);
      const head = (b.ssid || mac(bssid)) + (b.band ? ' · ' + b.band : '') + (b.channel ? ' ch ' + b.channel : '') +
        (b.backhaul ? ' · backhaul' : '');
      const t = sv('text', {class: 'bss', x: p.x + 6, y: y}, cut(head, 40));
      t.appendChild(sv('title', {}, head));
      g.appendChild(t);
      y += ROW_H;
      for (const c of cs) {
        const caps = [c.rssi ? c.rssi + ' dBm' : '', b.band, c.btm ? 'BTM' : '', c.rrm ? 'RRM' : ''].filter((s) => s).join(' ');
        const s = sv('text', {class: 'sta', x: p.x + 14, y: y, 'data-kind': 'client', 'data-mac': c.mac, 'data-device': d['al-mac'], 'data-bssid': bssid}, mac(c.mac) + ' ' + caps);
        g.appendChild(s);
        y += ROW_H;
      }
    }
  }
  function drawMesh(ix) {
    const svg = $('mesh');
    clear(svg);
    const pos = layout(ix);
    const links = sv('g', {}), nodes = sv('g', {});
    let w = 0, h = 0;
    for (const d of mesh.devices) {
      const p = pos.get(d['al-mac']);
      if (!p) continue;
      if (d._parent) {
        const pp = pos.get(d._parent), pd = ix.byMac.get(d._parent);
        drawLink(links, ix, d, {x: pp.x + BOX_W / 2, y: pp.y + blockHeight(pd)}, {x: p.x + BOX_W / 2, y: p.y});
      }
      drawDevice(nodes, ix, d, p);
      w = Math.max(w, p.x + BOX_W);
      h = Math.max(h, p.y + blockHeight(d));
    }
    svg.appendChild(links);
    svg.appendChild(nodes);
    svg.setAttribute('width', w + MARGIN);
    svg.setAttribute('height', h + MARGIN);
  }

  // ---- the panels ----
  function drawPanels(ix) {
    const name = (al) => { const d = ix.byMac.get(al); return d ? label(d) : mac(al); };
    const wl = $('white-list');
    clear(wl);
    for (const e of mesh['white-list'] || [])
      row(wl, [nw(e['serial-number']), e['onboarding-state'] + (e.gateway ? ' (gateway)' : ''), onOff(e.online), nw(mac(e['al-mac']))]).dataset.search = [e['serial-number'], e.hostname, e['al-mac']].join(' ');

    const st = mesh.steering;
    const steers = $('steers');
    clear(steers);
    if (st) {
      $('steering').textContent = 'steering ' + (st.global ? 'on' : 'off') + ' · band ' + (st['band-steering'] ? 'on' : 'off') +
        ' · mesh ' + (st['mesh-steering'] ? 'on' : 'off') + ' · back-off ' + (st['back-off'] ? 'on' : 'off') +
        ' · ' + st['requests-sent'] + ' requests, BTM ' + st['btm-accept'] + ' accepted / ' + st['btm-reject'] + ' refused';
      for (const s of st.latest || []) {
        const out = s.outcome + (s.outcome === 'refused' ? ' (status ' + s['btm-status'] + ')' : '') + (s['backoff-counter'] > 0 ? ', back-off ×' + s['backoff-counter'] : '');
        row(steers, [ageSpan(s['ms-ago']), nw(mac(s.mac)), bssText(ix, s['from-bssid']).ssid + ' ' + mac(s['from-bssid']) + ' → ' + mac(s['to-bssid']), out]).dataset.search = s.mac;
      }
    }

    const bs = mesh['backhaul-steering'];
    const moves = $('bh-moves');
    clear(moves);
    if (bs) {
      const p = $('bh-steering');
      clear(p);
      p.append(onOff(bs.enable, 'enabled', 'disabled'), ' · gate: ' + (bs['block-reason'] || 'open') + ' · last move: ');
      p.append(ageSpan(bs['last-steer-ms-ago']));
      for (const r of bs.requests || [])
        row(moves, [ageSpan(r['ms-ago']), name(r['al-mac']), mac(r['target-bssid']) + (r.channel ? ' ch ' + r.channel : ''), r.state + (r.reason ? ': ' + r.reason : '')]).dataset.search = r['al-mac'];
    }

    const radios = $('radios');
    clear(radios);
    for (const d of mesh.devices)
      for (const r of d.radios || [])
        row(radios, [label(d), r.band || '?', r.channel || '?', r['bandwidth-mhz'] || '?',
          r['tx-power-dbm'] === null ? '?' : r['tx-power-dbm']]).dataset.search = [d['al-mac'], label(d), r['radio-id']].join(' ');

    const vendor = $('vendor');
    clear(vendor);
    for (const a of mesh['vendor-agents'] || [])
      row(vendor, [nw(a.sn), a.hostname, a['model-number'] + (a['sw-version'] ? ' ' + a['sw-version'] : ''), onOff(a.online), ageSpan(a['last-heard-ms-ago'])]).dataset.search = [a.sn, a.hostname, a['model-number'], a['agent-mac'], a['hkt-mac']].join(' ');

    const c = mesh.controller;
    $('controller').textContent = !c ? '' : c['duplicate-found'] ? 'another controller answered: this one stops'
      : c['searches-left'] > 0 ? 'searching for another controller (' + c['searches-left'] + ' searches left); none answered so far'
        : 'the only controller of the mesh (no other answered its searches)';
  }

  // ---- selection and details ----
  function showDetails(ix) {
    const box = $('details');
    if (!selected) { box.hidden = true; return; }
    const d = ix.byMac.get(selected.device);
    const c = d && selected.kind === 'client' ? (d.clients || []).find((x) => x.mac === selected.mac) : null;
    if (!d || (selected.kind === 'client' && !c)) {
      box.hidden = false;
      clear($('facts'));
      $('facts').appendChild(el('dd', null, mac(selected.mac) + ' is no longer in the mesh'));
      return;
    }
    const facts = [];
    if (c) {
      const b = bssText(ix, c.bssid);
      facts.push(['client', mac(c.mac)], ['on', label(d)], ['SSID', b.ssid], ['BSSID', mac(c.bssid)],
        ['band', b.band], ['channel', b.channel], ['signal', c.rssi ? c.rssi + ' dBm' : 'not measured'],
        ['BTM', c.btm ? 'yes' : 'no'], ['RRM', c.rrm ? 'yes' : 'no']);
      detailUrl = '/1/aps/' + encodeURIComponent(d['al-mac']) + '/clients/' + encodeURIComponent(c.mac);
    } else {
      const info = d.info || {}, bh = d.backhaul || {}, ext = d.extender;
      facts.push(['device', label(d)], ['AL MAC', mac(d['al-mac'])], ['role', d.role], ['manufacturer', info.manufacturer],
        ['model', info['model-name']], ['serial', info['serial-number']]);
      if (ext) facts.push(['onboarding', ext['onboarding-state']], ['online', ext.online ? 'yes' : 'no']);
      if (d._parent) facts.push(['parent', label(ix.byMac.get(d._parent))], ['backhaul', band(bh.medium) + ', ' + String(bh.quality).toLowerCase() + ', cost ' + bh['cost-to-parent'] + ' (' + bh['cost-to-root'] + ' to the root)']);
      for (const b of d.ssids || []) facts.push([b.backhaul ? 'backhaul BSS' : 'BSS', b.ssid + ' (' + band(b.medium) + ', ' + mac(b.bssid) + ')']);
      facts.push(['clients', String((d.clients || []).length)]);
      detailUrl = '/1/aps/' + encodeURIComponent(d['al-mac']);
    }
    const dl = $('facts');
    clear(dl);
    for (const [k, v] of facts) { dl.appendChild(el('dt', null, k)); dl.appendChild(el('dd', null, v)); }
    $('source').setAttribute('href', detailUrl);
    $('source').textContent = detailUrl;
    box.hidden = false;
    const url = detailUrl;
    fetch(url, {cache: 'no-store'}).then((r) => r.json()).then((j) => {
      if (url === detailUrl) $('json').textContent = JSON.stringify(j, null, 2);
    }).catch(() => { if (url === detailUrl) $('json').textContent = ''; });
  }
  function markSelection() {
    for (const e of document.querySelectorAll('#mesh .sel')) e.classList.remove('sel');
    if (!selected) return;
    for (const e of document.querySelectorAll('#mesh [data-kind="' + selected.kind + '"]'))
      if (e.getAttribute('data-mac') === selected.mac) e.classList.add('sel');
  }

  // ---- search ----
  function search() {
    const q = $('search').value.trim().toLowerCase();
    const qm = bare(q);
    const macLike = qm.length >= 4 && /^[0-9a-f:.\-\s]+$/.test(q);
    const hit = (texts, macs) => texts.some((t) => t && String(t).toLowerCase().indexOf(q) >= 0) ||
      (macLike && macs.some((m) => m && bare(m).indexOf(qm) >= 0));
    let n = 0, first = null;
    const ix = mesh ? index(mesh) : null;
    for (const e of document.querySelectorAll('#mesh [data-kind]')) {
      let h = false;
      if (q && ix) {
        const m = e.getAttribute('data-mac');
        if (e.getAttribute('data-kind') === 'device') {
          const d = ix.byMac.get(m);
          const agent = (mesh['vendor-agents'] || []).find((a) => a['agent-mac'] === m) || {};
          h = hit([label(d), d.name, (d.info || {})['model-name'], (d.info || {})['serial-number'], agent.hostname].concat((d.ssids || []).map((b) => b.ssid)), [m]);
        } else {
          h = hit([bssText(ix, e.getAttribute('data-bssid')).ssid], [m]);
        }
      }
      e.classList.toggle('hit', h);
      e.classList.toggle('dim', !!q && !h);
      if (h) { n++; if (!first) first = e; }
    }
    for (const tr of document.querySelectorAll('#side tr[data-search]')) tr.classList.toggle('hit', !!q && hit([tr.dataset.search, tr.textContent], [tr.dataset.search]));
    $('hits').textContent = q ? n + (n === 1 ? ' match' : ' matches') : '';
    if (first) first.scrollIntoView({block: 'nearest', inline: 'nearest'});
  }

  // ---- the loop ----
  function draw() {
    const ix = index(mesh);
    drawMesh(ix);
    drawPanels(ix);
    markSelection();
    if (selected) showDetails(ix);
    if ($('search').value) search();
  }
  function setStatus(text, cls) {
    const s = $('status');
    s.textContent = text;
    s.className = cls;
  }
  async function poll() {
    try {
      const r = await fetch('/ui/mesh', {cache: 'no-store', headers: etag ? {'If-None-Match': etag} : {}});
      if (r.status === 200) {
        const doc = await r.json();
        etag = r.headers.get('ETag');
        mesh = doc;
        fetchedAt = Date.now();
        draw();
      } else if (r.status !== 304) {
        throw new Error('HTTP ' + r.status);
      }
      tickAges();
      setStatus('live · ' + new Date().toLocaleTimeString(), 'ok');
    } catch (e) {
      setStatus('no answer from the daemon (' + e.message + ')', 'bad');
    }
    setTimeout(poll, document.hidden ? HIDDEN_POLL_MS : POLL_MS);
  }

  $('mesh').addEventListener('click', (ev) => {
    const t = ev.target.closest('[data-kind]');
    if (!t || !mesh) return;
    selected = {kind: t.getAttribute('data-kind'), mac: t.getAttribute('data-mac'),
      device: t.getAttribute('data-kind') === 'device' ? t.getAttribute('data-mac') : t.getAttribute('data-device')};
    $('json').textContent = '';
    markSelection();
    showDetails(index(mesh));
  });
  $('close').addEventListener('click', () => { selected = null; markSelection(); $('details').hidden = true; });
  $('search').addEventListener('input', search);
  $('search').addEventListener('search', search);
  poll();
})();
