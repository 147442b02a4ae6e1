// A real browser peer for the WebRTC preview tests: Debian's chromium driven
// through playwright-core. Commands arrive as JSON lines on stdin; each gets
// one JSON line on stdout. The page talks to the server itself (same origin),
// as the browser interface does.
import { chromium } from 'playwright-core';
import { mkdtempSync, readdirSync, readFileSync, rmSync } from 'node:fs';
import { tmpdir } from 'node:os';
import { join } from 'node:path';
import { createInterface } from 'node:readline';

const base = process.argv[2];
const profile = mkdtempSync(join(tmpdir(), 'panoptra-chromium-'));
const reply = (o) => process.stdout.write(JSON.stringify(o) + '\n');
// The suite's one time budget (see tests/support/TestSupport.h): the
// browser's own waits stretch by the same factor as the test's.
const scale = Math.max(1, Number(process.env.PANOPTRA_TEST_TIME_SCALE) || 1);
const budget = (ms) => ms * scale;

const context = await chromium.launchPersistentContext(profile, {
  executablePath: '/usr/bin/chromium',
  headless: false, // '--headless=new' below makes it headless
  ignoreHTTPSErrors: true,
  timeout: budget(60000),
  args: ['--headless=new', '--no-sandbox', '--disable-gpu', '--disable-quic', '--no-first-run',
    '--disable-background-networking', '--disable-component-update', '--disable-sync'],
});
context.setDefaultTimeout(budget(30000));
const page = context.pages()[0] ?? await context.newPage();
// Any page of the server's origin will do: the API is fetched from it. A
// benchmark that hands offers over itself needs no server page.
if (base !== 'about:blank') await page.goto(base + '/api/v2/window/get_output_list.json');
await page.evaluate(() => { document.body.innerHTML = '<video id="v" autoplay muted playsinline></video>'; });
reply({ ready: true });

// Every process below this one: the browser and its helpers.
function descendants(pid) {
  const children = new Map();
  for (const entry of readdirSync('/proc')) {
    if (!/^\d+$/.test(entry)) continue;
    try {
      const stat = readFileSync(`/proc/${entry}/stat`, 'utf8');
      const ppid = Number(stat.slice(stat.lastIndexOf(')') + 2).split(' ')[1]);
      if (!children.has(ppid)) children.set(ppid, []);
      children.get(ppid).push(Number(entry));
    } catch { /* gone already */ }
  }
  const out = [];
  const walk = (p) => { for (const c of children.get(p) ?? []) { out.push(c); walk(c); } };
  walk(pid);
  return out;
}

const commands = {
  // An offer handed over directly (benchmarks without the HTTPS server).
  async offer({ sdp }) {
    return page.evaluate(async (sdp) => {
      const pc = new RTCPeerConnection();
      window.pc = pc;
      pc.ontrack = (e) => { document.getElementById('v').srcObject = new MediaStream([e.track]); };
      await pc.setRemoteDescription({ type: 'offer', sdp });
      await pc.setLocalDescription(await pc.createAnswer());
      return { applied: true };
    }, sdp);
  },
  // Glass-to-glass latency: each presented frame's send time, written by the
  // sender as a row of 32 black and white 32-pixel blocks (wall-clock
  // milliseconds, low 32 bits), against Date.now().
  async latency({ seconds }) {
    return page.evaluate(async (seconds) => {
      const video = document.getElementById('v');
      const canvas = document.createElement('canvas');
      canvas.width = 32 * 32;
      canvas.height = 32;
      const ctx = canvas.getContext('2d', { willReadFrequently: true });
      const samples = [];
      await new Promise((resolve) => {
        const end = performance.now() + seconds * 1000;
        const onFrame = () => {
          const now = Date.now();
          ctx.drawImage(video, 0, 0, 32 * 32, 32, 0, 0, 32 * 32, 32);
          const row = ctx.getImageData(0, 16, 32 * 32, 1).data;
          let stamp = 0;
          for (let bit = 0; bit < 32; ++bit) stamp = (stamp * 2) + (row[(bit * 32 + 16) * 4] > 128 ? 1 : 0);
          samples.push(((now % 4294967296) - stamp + 4294967296) % 4294967296);
          if (performance.now() < end) video.requestVideoFrameCallback(onFrame); else resolve();
        };
        video.requestVideoFrameCallback(onFrame);
      });
      samples.sort((a, b) => a - b);
      const at = (q) => samples[Math.min(samples.length - 1, Math.floor(q * samples.length))];
      return { frames: samples.length, p50: at(0.5), p90: at(0.9), min: samples[0] };
    }, seconds);
  },
  async open({ pro, win }) {
    return page.evaluate(async ({ pro, win }) => {
      const r = await fetch('/api/v2/webrtc/get_sdp.json', {
        method: 'POST', body: JSON.stringify({ pro_id: pro, win_id: win, ip: '127.0.0.1' }) });
      const j = await r.json();
      if (j.result !== 'ok') return { error: j };
      if (window.pc) window.pc.close();
      const pc = new RTCPeerConnection();
      window.pc = pc;
      pc.ontrack = (e) => { document.getElementById('v').srcObject = new MediaStream([e.track]); };
      await pc.setRemoteDescription({ type: 'offer', sdp: j.data.sdp });
      await pc.setLocalDescription(await pc.createAnswer());
      return { session_id: j.data.session_id };
    }, { pro, win });
  },
  async stats() {
    return page.evaluate(async () => {
      const pc = window.pc;
      const out = { state: pc ? pc.connectionState : 'none', framesDecoded: 0, frameWidth: 0, frameHeight: 0 };
      if (!pc) return out;
      const report = await pc.getStats();
      report.forEach((s) => {
        if (s.type === 'inbound-rtp' && s.kind === 'video') {
          out.framesDecoded = s.framesDecoded ?? 0;
          out.frameWidth = s.frameWidth ?? 0;
          out.frameHeight = s.frameHeight ?? 0;
        }
        if (s.type === 'transport') {
          out.dtlsState = s.dtlsState;
          out.srtpCipher = s.srtpCipher;
          out.tlsVersion = s.tlsVersion;
        }
      });
      return out;
    });
  },
  // The mean colour (RGB) of horizontal bands of the picture shown now,
  // each given as [top, bottom] fractions of its height, read through a canvas.
  async bands({ bands }) {
    return page.evaluate((bands) => {
      const video = document.getElementById('v');
      const w = video.videoWidth, h = video.videoHeight;
      if (!w || !h || video.readyState < 2) return { error: 'no picture' };
      const canvas = document.createElement('canvas');
      canvas.width = w;
      canvas.height = h;
      const ctx = canvas.getContext('2d', { willReadFrequently: true });
      ctx.drawImage(video, 0, 0, w, h);
      const means = bands.map(([top, bottom]) => {
        const y0 = Math.floor(top * h), y1 = Math.max(y0 + 1, Math.floor(bottom * h));
        const d = ctx.getImageData(0, y0, w, y1 - y0).data;
        const sum = [0, 0, 0];
        for (let i = 0; i < d.length; i += 4) { sum[0] += d[i]; sum[1] += d[i + 1]; sum[2] += d[i + 2]; }
        return sum.map((v) => Math.round(v / (d.length / 4)));
      });
      return { width: w, height: h, bands: means };
    }, bands);
  },
  async fetch({ path, body, app }) {
    return page.evaluate(async ({ path, body, app }) => {
      const headers = app ? { app } : {};
      const r = await fetch(path, { method: 'POST', headers, body: JSON.stringify(body) });
      return r.json();
    }, { path, body, app });
  },
  async close() {
    await page.evaluate(() => { window.pc.close(); window.pc = null; });
    return { closed: true };
  },
  async kill() {
    for (const pid of descendants(process.pid)) {
      try { process.kill(pid, 'SIGKILL'); } catch { /* gone already */ }
    }
    reply({ killed: true });
    rmSync(profile, { recursive: true, force: true });
    process.exit(0);
  },
  async quit() {
    await context.close();
    rmSync(profile, { recursive: true, force: true });
    reply({ quit: true });
    process.exit(0);
  },
};

for await (const line of createInterface({ input: process.stdin })) {
  if (!line.trim()) continue;
  const message = JSON.parse(line);
  try {
    reply(await commands[message.cmd](message));
  } catch (e) {
    reply({ error: String(e) });
  }
}
await context.close();
rmSync(profile, { recursive: true, force: true });
