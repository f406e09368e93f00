// The page: the list of open files, listening, saving. Everything that touches a VOX file's bytes happens
// in the worker, through the npm package (libkvox in WebAssembly); this side decodes other audio with the
// browser, plays, draws and hands files to the user.
'use strict';
(() => {
  const NoTagFlag = 0x10;  // the options word's flag for a VOX file without its four-byte tag
  const byId = (id) => document.getElementById(id);
  const statusLine = byId('page-status');
  const fileList = byId('file-list');
  const entries = [];
  let codings = [];

  // ---- The worker and its jobs -------------------------------------------------------------------------

  const workerSource = byId('worker-source').textContent;
  const jobs = new Map();
  let nextJob = 1;
  let worker = null;
  let workerReady = null;

  function startWorker() {
    const url = URL.createObjectURL(new Blob([workerSource], { type: 'text/javascript' }));
    worker = new Worker(url);
    URL.revokeObjectURL(url);
    workerReady = new Promise((resolve, reject) => {
      worker.onmessage = ({ data }) => {
        if (data.kind === 'ready') {
          codings = data.codings;
          resolve();
        } else if (data.kind === 'broken') {
          restartWorker(`the decoder stopped (${data.error})`);
          reject(new Error(data.error));
        } else {
          const pending = jobs.get(data.job);
          if (!pending) return;
          if (data.kind === 'progress') {
            pending.onProgress(data.fraction);
          } else {
            jobs.delete(data.job);
            if (data.kind === 'done') pending.resolve(data);
            else pending.reject(new Error(data.error));
          }
        }
      };
      worker.onerror = (event) => {
        event.preventDefault();
        restartWorker(event.message || 'the decoder could not run');
        reject(new Error(event.message || 'the decoder could not run'));
      };
    });
    workerReady.catch(() => {});
  }

  // A worker that failed takes its jobs down with it; the next job gets a fresh one.
  function restartWorker(reason) {
    worker.terminate();
    for (const [, pending] of jobs) pending.reject(new Error(reason));
    jobs.clear();
    startWorker();
  }

  async function runJob(message, transfer = [], onProgress = () => {}) {
    await workerReady;
    const job = nextJob++;
    return new Promise((resolve, reject) => {
      jobs.set(job, { resolve, reject, onProgress });
      worker.postMessage({ ...message, job }, transfer);
    });
  }

  // One task at a time, in the order asked: a folder of a thousand files is read one by one, not all at once.
  let taskChain = Promise.resolve();
  function queueTask(task) {
    const result = taskChain.then(task);
    taskChain = result.catch(() => {});
    return result;
  }

  // ---- Words for people ----------------------------------------------------------------------------------

  function codingOf(word) {
    return codings.find((coding) => coding.word === (word & 0x0f));
  }

  function seconds(count, rate) {
    return `${(count / rate).toFixed(3)} s`;
  }

  function clock(time) {
    const minutes = Math.floor(time / 60);
    const rest = time - minutes * 60;
    return `${minutes}:${rest.toFixed(1).padStart(4, '0')}`;
  }

  function baseName(name) {
    return name.replace(/\.[^.]*$/, '') || name;
  }

  // The reason as kvox words it, starting with the file's name.
  function reasonFor(entry, error) {
    const text = error instanceof Error ? error.message : String(error);
    return text.startsWith(`${entry.name}: `) ? text : `${entry.name}: ${text}`;
  }

  // ---- Files in, one row each ---------------------------------------------------------------------------

  function setText(element, text) {
    element.textContent = text || '';
  }

  function addRow(entry) {
    const row = byId('file-template').content.firstElementChild.cloneNode(true);
    entry.row = row;
    const part = (selector) => row.querySelector(selector);
    entry.parts = {
      facts: part('.facts'), note: part('.note'), detected: part('.detected'), error: part('.error'),
      message: part('.message'), progress: part('.file-progress'), coding: part('.coding'),
      codingChoice: part('.coding-choice'), player: part('.player'), play: part('.play'), time: part('.time'),
      position: part('.position'), wave: part('.wave'), canvas: part('.waveform'), playhead: part('.playhead'), save: part('.save'),
      saveWav: part('.save-wav'), voxCoding: part('.vox-coding'), voxTag: part('.vox-tag'),
      saveVox: part('.save-vox'), remove: part('.remove'),
    };
    const parts = entry.parts;
    row.dataset.name = entry.name;
    row.dataset.state = 'reading';
    part('.file-name').textContent = entry.name;
    parts.progress.setAttribute('aria-label', `Reading ${entry.name}`);
    parts.play.setAttribute('aria-label', `Play ${entry.name}`);
    parts.position.setAttribute('aria-label', `Position in ${entry.name}`);
    parts.saveWav.setAttribute('aria-label', `Save ${entry.name} as WAV`);
    parts.saveVox.setAttribute('aria-label', `Save ${entry.name} as VOX`);
    parts.voxCoding.setAttribute('aria-label', `Save as VOX in, for ${entry.name}`);
    parts.voxTag.setAttribute('aria-label', `with its coding tag, for ${entry.name}`);
    parts.remove.setAttribute('aria-label', `Close ${entry.name}`);
    setText(parts.facts, 'Reading…');

    parts.codingChoice.addEventListener('change', () => chooseCoding(entry, Number(parts.codingChoice.value)));
    parts.play.addEventListener('click', () => togglePlay(entry));
    parts.position.addEventListener('input', () => seek(entry, Number(parts.position.value)));
    parts.canvas.addEventListener('click', (event) => {
      if (!entry.count) return;
      const box = parts.canvas.getBoundingClientRect();
      seek(entry, ((event.clientX - box.left) / box.width) * duration(entry));
    });
    parts.saveWav.addEventListener('click', () => saveWav(entry));
    parts.saveVox.addEventListener('click', () => saveVox(entry));
    parts.remove.addEventListener('click', () => removeEntry(entry));
    fileList.append(row);
    updateListControls();
  }

  function fillCodingSelect(select, withPlaceholder) {
    select.replaceChildren();
    if (withPlaceholder) select.append(new Option('Not settled: choose the coding…', '0'));
    for (const coding of codings) {
      select.append(new Option(`${coding.display_name} (${coding.tag}, ${coding.rate_hz} Hz)`, String(coding.word)));
    }
  }

  function showFacts(entry) {
    const { parts, facts } = entry;
    entry.row.dataset.kind = entry.kind;
    setText(parts.error, entry.error);
    parts.save.hidden = entry.kind === 'error';
    parts.saveWav.hidden = entry.kind === 'audio';
    if (entry.kind === 'error') {
      setText(parts.facts, 'Cannot open this file');
      setText(parts.note, '');
      setText(parts.detected, '');
      parts.player.hidden = true;
      parts.coding.hidden = true;
      return;
    }
    if (!parts.voxCoding.options.length) fillCodingSelect(parts.voxCoding, false);
    if (entry.kind === 'audio') {
      setText(parts.facts, entry.audioFacts);
      setText(parts.note, 'not a VOX file: audio this page can save as VOX');
      return;
    }
    const figures = entry.count !== undefined ? [`${facts.rate_hz} Hz`, seconds(entry.count, facts.rate_hz)] : [];
    const form = entry.kind === 'tagged' ? `tagged ${facts.tag}` : 'raw';
    setText(parts.facts, [form, facts.display_name, ...figures].join(', '));
    setText(parts.note, facts.note ? `(${facts.note})` : '');
    setText(parts.detected, facts.detected ? `Detected: ${facts.detected}` : '');
    if (entry.kind === 'raw') {
      parts.coding.hidden = false;
      fillCodingSelect(parts.codingChoice, !facts.word);
      parts.codingChoice.value = String(facts.word || 0);
      parts.codingChoice.setAttribute('aria-label', `Coding of ${entry.name}`);
    }
    parts.player.hidden = false;
    const settled = entry.count !== undefined;
    parts.play.disabled = settled && entry.count === 0;
    parts.position.disabled = !settled;
    parts.wave.hidden = !settled;
    parts.position.max = settled ? duration(entry).toFixed(1) : '0';
    if (settled) parts.voxCoding.value = String(facts.word & 0x0f);
    updatePlayer(entry);
    drawWave(entry);
  }

  function fail(entry, error) {
    entry.kind = 'error';
    entry.error = reasonFor(entry, error);
    entry.row.dataset.state = 'failed';
    showFacts(entry);
  }

  // Reads the file's bytes again for each job, so no copy of them stays behind.
  async function readBytes(entry) {
    try {
      return await entry.file.arrayBuffer();
    } catch (failure) {
      throw new Error(`${entry.name}: cannot be read (${failure.name === 'NotFoundError' ? 'it was moved or deleted' : failure.message})`);
    }
  }

  // Opens the file through the plug-in: its facts, and for a VOX file whose coding is settled, its samples.
  async function openEntry(entry, word = 0) {
    const parts = entry.parts;
    entry.row.dataset.state = 'reading';
    const bytes = await readBytes(entry);
    const showProgress = (fraction) => {
      parts.progress.hidden = false;
      parts.progress.value = fraction;
    };
    let answer;
    try {
      answer = await runJob({ kind: 'open', name: entry.name, bytes, word }, [bytes], showProgress);
    } finally {
      parts.progress.hidden = true;
    }
    const facts = answer.facts;
    if (facts.error && facts.vox !== false) throw new Error(facts.error);
    if (facts.vox === false) {
      await openAsAudio(entry, facts.error);
      return;
    }
    forgetSound(entry);
    entry.facts = facts;
    entry.kind = facts.tagged ? 'tagged' : 'raw';
    if (answer.samples) {
      entry.samples = new Int16Array(answer.samples, 0, answer.count);
      entry.count = answer.count;
      entry.rate = answer.rate;
      entry.peaks = answer.peaks;
    } else {
      entry.samples = undefined;
      entry.count = undefined;
    }
    entry.row.dataset.state = entry.count !== undefined ? 'ready' : 'unsettled';
    showFacts(entry);
    performance.mark(`kvox:drawn:${entry.name}`);
  }

  // A file the plug-in does not take: other audio, to be saved as VOX, or plainly not for this page. A PCM
  // WAV file's header says what it holds; other audio is decoded, at a low rate since only its channels
  // and length are shown.
  async function openAsAudio(entry, notVoxReason) {
    const bytes = await readBytes(entry);
    const wav = parseWav(new Uint8Array(bytes));
    const frameBytes = wav ? (wav.channels * wav.bits) / 8 : 0;
    let channels;
    let length;
    if (wav && wav.pcm && frameBytes > 0 && wav.rate > 0) {
      [channels, length] = [wav.channels, wav.dataBytes / frameBytes / wav.rate];
    } else {
      try {
        const decoded = await decodeAudio(bytes, 3000);
        [channels, length] = [decoded.numberOfChannels, decoded.duration];
      } catch {
        throw new Error(`${notVoxReason}; nor is it audio this browser can decode`);
      }
    }
    const facts = wav ? [`WAV, ${wav.bits}-bit`, `${wav.rate} Hz`] : ['audio'];
    facts.push(channels === 1 ? 'mono' : `${channels} channels`, `${length.toFixed(3)} s`);
    entry.kind = 'audio';
    entry.audioFacts = facts.join(', ');
    entry.row.dataset.state = 'ready';
    showFacts(entry);
    if (wav && wav.cutShort) setText(entry.parts.message, CutShortNote);
  }

  function addFiles(files) {
    const added = [];
    for (const file of files) {
      const entry = { file, name: file.name };
      entries.push(entry);
      addRow(entry);
      added.push(entry);
    }
    if (!added.length) return;
    performance.mark('kvox:chosen');
    setText(statusLine, `Opening ${added.length === 1 ? added[0].name : `${added.length} files`}…`);
    const opened = added.map((entry) =>
      queueTask(() => openEntry(entry)).catch((failure) => fail(entry, failure)));
    Promise.all(opened).then(() => {
      const failed = entries.filter((entry) => entry.kind === 'error').length;
      setText(statusLine, `${entries.length} ${entries.length === 1 ? 'file' : 'files'} open` +
        `${failed ? `, ${failed} of them cannot be read as VOX or audio (see below)` : ''}.`);
    });
  }

  function chooseCoding(entry, word) {
    if (!word) return;
    stop(entry);
    setText(entry.parts.message, '');
    queueTask(() => openEntry(entry, word)).catch((failure) => fail(entry, failure));
  }

  function removeEntry(entry) {
    if (!entries.includes(entry)) return;
    stop(entry);
    forgetSound(entry);
    entries.splice(entries.indexOf(entry), 1);
    entry.row.remove();
    updateListControls();
  }

  function updateListControls() {
    byId('no-files').hidden = entries.length > 0;
    byId('save-all').disabled = entries.length === 0;
    byId('remove-all').disabled = entries.length === 0;
  }

  // ---- Drawing ------------------------------------------------------------------------------------------

  const duration = (entry) => (entry.count ? entry.count / entry.rate : 0);

  function drawWave(entry) {
    const canvas = entry.parts.canvas;
    const width = Math.max(1, Math.round(canvas.clientWidth * devicePixelRatio));
    const height = Math.max(1, Math.round(canvas.clientHeight * devicePixelRatio));
    if (canvas.width !== width || canvas.height !== height) {
      canvas.width = width;
      canvas.height = height;
    }
    const context = canvas.getContext('2d');
    context.clearRect(0, 0, width, height);
    const peaks = entry.peaks;
    if (!peaks || entry.count === undefined) return;
    const columns = peaks.length / 2;
    context.fillStyle = getComputedStyle(canvas).getPropertyValue('--wave').trim() || '#2d6fc1';
    const middle = height / 2;
    for (let x = 0; x < width; ++x) {
      const first = Math.floor((x * columns) / width);
      const last = Math.max(first + 1, Math.floor(((x + 1) * columns) / width));
      let low = 32767;
      let high = -32768;
      for (let column = first; column < last && column < columns; ++column) {
        low = Math.min(low, peaks[column * 2]);
        high = Math.max(high, peaks[column * 2 + 1]);
      }
      const top = middle - (high / 32768) * middle;
      const bottom = middle - (low / 32768) * middle;
      context.fillRect(x, top, 1, Math.max(1, bottom - top));
    }
  }

  let drawnWidth = 0;
  new ResizeObserver(([change]) => {
    if (Math.round(change.contentRect.width) === drawnWidth) return;
    drawnWidth = Math.round(change.contentRect.width);
    entries.forEach(drawWave);
  }).observe(fileList);

  // ---- Listening ----------------------------------------------------------------------------------------

  const player = { context: null, entry: null, source: null, startedAt: 0, offset: 0, frame: 0 };

  function forgetSound(entry) {
    if (player.entry === entry) stop(entry);
    entry.buffer = null;
  }

  function position(entry) {
    if (player.entry === entry && player.source) {
      return Math.min(duration(entry), player.context.currentTime - player.startedAt);
    }
    return entry.offset || 0;
  }

  function updatePlayer(entry) {
    const parts = entry.parts;
    const playing = player.entry === entry && player.source !== null;
    const now = position(entry);
    parts.play.textContent = playing ? 'Pause' : 'Play';
    parts.play.setAttribute('aria-label', `${playing ? 'Pause' : 'Play'} ${entry.name}`);
    parts.time.textContent = `${clock(now)} / ${clock(duration(entry))}`;
    if (document.activeElement !== parts.position) parts.position.value = now.toFixed(1);
    parts.position.setAttribute('aria-valuetext', `${clock(now)} of ${clock(duration(entry))}`);
    parts.playhead.style.left = `${duration(entry) ? (now / duration(entry)) * 100 : 0}%`;
    entry.row.dataset.playing = playing ? 'yes' : 'no';
  }

  function tick() {
    if (!player.entry) return;
    updatePlayer(player.entry);
    player.frame = requestAnimationFrame(tick);
  }

  function soundOf(entry) {
    if (!entry.buffer) {
      const buffer = player.context.createBuffer(1, entry.count, entry.rate);
      const channel = buffer.getChannelData(0);
      const samples = entry.samples;
      for (let i = 0; i < samples.length; ++i) channel[i] = samples[i] / 32768;
      entry.buffer = buffer;
    }
    return entry.buffer;
  }

  function askForCoding(entry) {
    setText(entry.parts.message, 'Choose this file\'s coding first: its content does not settle it.');
    entry.parts.codingChoice.focus();
  }

  async function play(entry) {
    if (entry.count === undefined) return askForCoding(entry);
    if (player.entry && player.entry !== entry) stop(player.entry);
    player.context ||= new AudioContext();
    await player.context.resume();
    const source = player.context.createBufferSource();
    source.buffer = soundOf(entry);
    source.connect(player.context.destination);
    let offset = entry.offset || 0;
    if (offset >= duration(entry)) offset = 0;
    source.onended = () => {
      if (player.source !== source) return;
      stop(entry);
      entry.offset = 0;
      updatePlayer(entry);
    };
    source.start(0, offset);
    player.entry = entry;
    player.source = source;
    player.startedAt = player.context.currentTime - offset;
    cancelAnimationFrame(player.frame);
    tick();
  }

  function stop(entry) {
    if (player.entry !== entry) return;
    entry.offset = position(entry);
    if (player.source) {
      player.source.onended = null;
      player.source.stop();
    }
    player.source = null;
    player.entry = null;
    cancelAnimationFrame(player.frame);
    updatePlayer(entry);
  }

  function togglePlay(entry) {
    if (player.entry === entry && player.source) stop(entry);
    else play(entry).catch((failure) => setText(entry.parts.message, `Cannot play: ${reasonFor(entry, failure)}`));
  }

  function seek(entry, time) {
    const playing = player.entry === entry && player.source;
    if (playing) stop(entry);
    entry.offset = Math.max(0, Math.min(time, duration(entry)));
    if (playing) play(entry);
    else updatePlayer(entry);
  }

  // ---- Saving ---------------------------------------------------------------------------------------------

  const CutShortNote = 'Cut short: its header promises more audio than it holds; using what it holds.';

  // 16-bit mono WAV with the 44-byte header every audio tool writes for it.
  function wavBlob(samples, rate) {
    const header = new DataView(new ArrayBuffer(44));
    const ascii = (offset, text) => [...text].forEach((c, i) => header.setUint8(offset + i, c.charCodeAt(0)));
    const dataBytes = samples.length * 2;
    ascii(0, 'RIFF');
    header.setUint32(4, 36 + dataBytes, true);
    ascii(8, 'WAVE');
    ascii(12, 'fmt ');
    header.setUint32(16, 16, true);
    header.setUint16(20, 1, true);
    header.setUint16(22, 1, true);
    header.setUint32(24, rate, true);
    header.setUint32(28, rate * 2, true);
    header.setUint16(32, 2, true);
    header.setUint16(34, 16, true);
    ascii(36, 'data');
    header.setUint32(40, dataBytes, true);
    return new Blob([header, samples], { type: 'audio/wav' });
  }

  // The format chunk and samples of a PCM WAV file; null for anything else.
  function parseWav(bytes) {
    const view = new DataView(bytes.buffer, bytes.byteOffset, bytes.byteLength);
    const tag = (offset) => String.fromCharCode(...bytes.subarray(offset, offset + 4));
    if (bytes.length < 12 || tag(0) !== 'RIFF' || tag(8) !== 'WAVE') return null;
    let format = null;
    for (let offset = 12; offset + 8 <= bytes.length;) {
      const size = view.getUint32(offset + 4, true);
      if (tag(offset) === 'fmt ' && size >= 16 && offset + 24 <= bytes.length) {
        const code = view.getUint16(offset + 8, true);
        const extensiblePcm = code === 0xfffe && size >= 40 && view.getUint16(offset + 32, true) === 1;
        format = {
          pcm: code === 1 || extensiblePcm,
          channels: view.getUint16(offset + 10, true),
          rate: view.getUint32(offset + 12, true),
          bits: view.getUint16(offset + 22, true),
        };
      } else if (tag(offset) === 'data' && format) {
        const held = Math.min(size, bytes.length - offset - 8);
        const data = bytes.slice(offset + 8, offset + 8 + (held & ~1));
        return { ...format, data: new Int16Array(data.buffer), dataBytes: held, cutShort: held < size };
      }
      offset += 8 + size + (size & 1);
    }
    return null;
  }

  function decodeAudio(bytes, rate) {
    return new OfflineAudioContext(1, 1, rate).decodeAudioData(bytes);
  }

  // kvox's rounding to 16 bits: nearest, ties to even, clipped; not-a-number is silence.
  function toPcm16(value) {
    if (Number.isNaN(value)) return 0;
    const scaled = Math.min(32767, Math.max(-32768, value * 32768));
    const floor = Math.floor(scaled);
    const fraction = scaled - floor;
    return fraction > 0.5 || (fraction === 0.5 && floor % 2 !== 0) ? floor + 1 : floor;
  }

  // The samples for a coding at `rate`: 16-bit mono WAV at that rate goes in untouched, as kvox hands it
  // over; anything else is decoded and resampled by the browser and mixed down to mono.
  async function samplesAt(bytes, rate) {
    const wav = parseWav(bytes);
    if (wav && wav.pcm && wav.bits === 16 && wav.channels === 1 && wav.rate === rate) return wav;
    const decoded = await decodeAudio(bytes.slice().buffer, rate);
    const channels = [];
    for (let c = 0; c < decoded.numberOfChannels; ++c) channels.push(decoded.getChannelData(c));
    const samples = new Int16Array(decoded.length);
    for (let i = 0; i < samples.length; ++i) {
      let sum = 0;
      for (const channel of channels) sum += channel[i];
      samples[i] = toPcm16(sum / channels.length);
    }
    return { data: samples, cutShort: Boolean(wav && wav.cutShort) };
  }

  function download(blob, name) {
    const link = document.createElement('a');
    link.href = URL.createObjectURL(blob);
    link.download = name;
    link.hidden = true;
    document.body.append(link);
    link.click();
    link.remove();
    setTimeout(() => URL.revokeObjectURL(link.href), 60000);
  }

  function readyToSave(entry) {
    if (entry.kind === 'raw' && entry.count === undefined) {
      askForCoding(entry);
      return false;
    }
    return entry.kind === 'tagged' || entry.kind === 'raw' || entry.kind === 'audio';
  }

  function saveWav(entry) {
    if (!readyToSave(entry) || entry.kind === 'audio') return;
    download(wavBlob(entry.samples, entry.rate), `${baseName(entry.name)}.wav`);
    setText(entry.parts.message, `Saved ${baseName(entry.name)}.wav.`);
  }

  async function saveVox(entry) {
    if (!readyToSave(entry)) return;
    const parts = entry.parts;
    const coding = codingOf(Number(parts.voxCoding.value));
    const word = coding.word | (parts.voxTag.checked ? 0 : NoTagFlag);
    const name = entry.kind === 'audio' ? `${baseName(entry.name)}.vox` : `${baseName(entry.name)}-${coding.alias}.vox`;
    parts.saveVox.disabled = true;
    setText(parts.message, `Saving ${name}…`);
    try {
      const source = entry.kind === 'audio'
        ? new Uint8Array(await readBytes(entry))
        : new Uint8Array(await wavBlob(entry.samples, entry.rate).arrayBuffer());
      const { data, cutShort } = await samplesAt(source, coding.rate_hz);
      const answer = await queueTask(() => runJob({ kind: 'encode', name, samples: data, word }, [data.buffer],
        (fraction) => setText(parts.message, `Saving ${name}… ${Math.round(fraction * 100)}%`)));
      download(new Blob([answer.bytes], { type: 'application/octet-stream' }), name);
      setText(parts.message, `Saved ${name}.${cutShort ? ` ${CutShortNote}` : ''}`);
    } catch (failure) {
      setText(parts.message, `Not saved: ${reasonFor(entry, failure)}`);
    } finally {
      parts.saveVox.disabled = false;
    }
  }

  // ---- Save all: into a folder the user picks, or else one zip ------------------------------------------

  const crcTable = new Uint32Array(256).map((_, n) => {
    let c = n;
    for (let k = 0; k < 8; ++k) c = c & 1 ? 0xedb88320 ^ (c >>> 1) : c >>> 1;
    return c >>> 0;
  });

  function crc32(bytes) {
    let crc = 0xffffffff;
    for (let i = 0; i < bytes.length; ++i) crc = crcTable[(crc ^ bytes[i]) & 0xff] ^ (crc >>> 8);
    return (crc ^ 0xffffffff) >>> 0;
  }

  // A zip of stored (uncompressed) entries: WAV hardly compresses, and storing keeps it simple and quick.
  class StoredZip {
    constructor() {
      this.parts = [];
      this.central = [];
      this.offset = 0;
      const now = new Date();
      this.time = (now.getHours() << 11) | (now.getMinutes() << 5) | (now.getSeconds() >> 1);
      this.date = ((now.getFullYear() - 1980) << 9) | ((now.getMonth() + 1) << 5) | now.getDate();
    }

    fits(byteCount) {
      return this.offset + byteCount + 1024 < 0xffffffff;
    }

    add(name, bytes) {
      const nameBytes = new TextEncoder().encode(name);
      const crc = crc32(bytes);
      const header = (size, signature) => {
        const view = new DataView(new ArrayBuffer(size));
        view.setUint32(0, signature, true);
        return view;
      };
      const local = header(30, 0x04034b50);
      local.setUint16(4, 10, true);
      local.setUint16(6, 0x0800, true);  // names in UTF-8
      local.setUint16(10, this.time, true);
      local.setUint16(12, this.date, true);
      local.setUint32(14, crc, true);
      local.setUint32(18, bytes.length, true);
      local.setUint32(22, bytes.length, true);
      local.setUint16(26, nameBytes.length, true);
      const central = header(46, 0x02014b50);
      central.setUint16(4, 20, true);
      central.setUint16(6, 10, true);
      central.setUint16(8, 0x0800, true);
      central.setUint16(12, this.time, true);
      central.setUint16(14, this.date, true);
      central.setUint32(16, crc, true);
      central.setUint32(20, bytes.length, true);
      central.setUint32(24, bytes.length, true);
      central.setUint16(28, nameBytes.length, true);
      central.setUint32(42, this.offset, true);
      this.parts.push(local, nameBytes, bytes);
      this.central.push(central, nameBytes);
      this.offset += 30 + nameBytes.length + bytes.length;
    }

    blob() {
      const centralSize = this.central.reduce((sum, part) => sum + part.byteLength, 0);
      const end = new DataView(new ArrayBuffer(22));
      end.setUint32(0, 0x06054b50, true);
      end.setUint16(8, this.central.length / 2, true);
      end.setUint16(10, this.central.length / 2, true);
      end.setUint32(12, centralSize, true);
      end.setUint32(16, this.offset, true);
      return new Blob([...this.parts, ...this.central, end], { type: 'application/zip' });
    }
  }

  // "name.wav", or "name (2).wav" when that is taken.
  async function freeName(wanted, taken) {
    const stem = baseName(wanted);
    for (let n = 1; ; ++n) {
      const name = n === 1 ? wanted : `${stem} (${n}).wav`;
      if (!(await taken(name))) return name;
    }
  }

  async function pickFolder() {
    if (typeof window.showDirectoryPicker !== 'function') return null;
    return window.showDirectoryPicker({ id: 'kvox-wav', mode: 'readwrite' });
  }

  async function saveAll() {
    const button = byId('save-all');
    const progress = byId('save-all-progress');
    const summary = byId('save-all-summary');
    let folder = null;
    try {
      folder = await pickFolder();
    } catch (failure) {
      if (failure.name === 'AbortError') {
        setText(summary, 'Save all cancelled: no folder chosen.');
        return;
      }
    }
    const zip = folder ? null : new StoredZip();
    const zipNames = new Set();
    const todo = entries.slice();
    const skipped = [];
    let saved = 0;
    button.disabled = true;
    progress.hidden = false;
    progress.max = todo.length;
    try {
      for (const [index, entry] of todo.entries()) {
        progress.value = index;
        setText(summary, `Saving ${index + 1} of ${todo.length}: ${entry.name}…`);
        try {
          await queueTask(() => {});  // after the files still opening
          if (entry.kind === 'error') throw new Error(entry.error);
          if (entry.kind === 'audio') throw new Error('not a VOX file');
          if (entry.count === undefined) throw new Error('coding not settled: choose its coding first');
          const blob = wavBlob(entry.samples, entry.rate);
          if (folder) {
            const name = await freeName(`${baseName(entry.name)}.wav`, (candidate) =>
              folder.getFileHandle(candidate).then(() => true, () => false));
            const writable = await (await folder.getFileHandle(name, { create: true })).createWritable();
            await writable.write(blob);
            await writable.close();
          } else {
            if (!zip.fits(blob.size)) throw new Error('it does not fit in a zip of at most 4 GB; save fewer files at once');
            const name = await freeName(`${baseName(entry.name)}.wav`, async (candidate) => zipNames.has(candidate));
            zipNames.add(name);
            zip.add(name, new Uint8Array(await blob.arrayBuffer()));
          }
          saved += 1;
        } catch (failure) {
          skipped.push(reasonFor(entry, failure));
        }
      }
      progress.value = todo.length;
      if (zip && saved > 0) download(zip.blob(), 'kvox-wav.zip');
      const where = folder ? `into the folder “${folder.name}”` : 'into kvox-wav.zip';
      summary.replaceChildren(`Saved ${saved} of ${todo.length} ${todo.length === 1 ? 'file' : 'files'} as WAV${saved ? ` ${where}` : ''}.`);
      if (skipped.length) {
        summary.append(` Skipped ${skipped.length}:`);
        const list = document.createElement('ul');
        for (const line of skipped) list.append(Object.assign(document.createElement('li'), { textContent: line }));
        summary.append(list);
      }
    } finally {
      button.disabled = entries.length === 0;
      progress.hidden = true;
    }
  }

  // ---- Wiring -------------------------------------------------------------------------------------------

  const input = byId('file-input');
  input.addEventListener('change', () => {
    addFiles([...input.files]);
    input.value = '';
  });

  // Dropped folders are walked for their files.
  async function filesOf(entry) {
    if (entry.isFile) return [await new Promise((resolve, reject) => entry.file(resolve, reject))];
    if (!entry.isDirectory) return [];
    const reader = entry.createReader();
    const found = [];
    for (;;) {
      const batch = await new Promise((resolve, reject) => reader.readEntries(resolve, reject));
      if (!batch.length) break;
      for (const child of batch.sort((a, b) => a.name.localeCompare(b.name))) found.push(...(await filesOf(child)));
    }
    return found;
  }

  const dropZone = byId('drop-zone');
  document.addEventListener('dragover', (event) => {
    event.preventDefault();
    dropZone.classList.add('dragging');
  });
  document.addEventListener('dragleave', (event) => {
    if (!event.relatedTarget) dropZone.classList.remove('dragging');
  });
  document.addEventListener('drop', async (event) => {
    event.preventDefault();
    dropZone.classList.remove('dragging');
    const items = [...event.dataTransfer.items].map((item) => item.webkitGetAsEntry && item.webkitGetAsEntry());
    if (items.length && items.every(Boolean)) {
      const files = [];
      for (const item of items) {
        try {
          files.push(...(await filesOf(item)));
        } catch (failure) {
          setText(statusLine, `Could not read ${item.name}: ${failure.message}`);
        }
      }
      addFiles(files);
    } else {
      addFiles([...event.dataTransfer.files]);
    }
  });

  byId('save-all').addEventListener('click', () => saveAll());
  byId('remove-all').addEventListener('click', () => entries.slice().forEach(removeEntry));

  // A fault of the page itself is said on the page, not only in the console.
  const sayFault = (reason) => setText(statusLine, `Something went wrong: ${reason}. The files already open are unaffected.`);
  window.addEventListener('error', (event) => sayFault(event.message));
  window.addEventListener('unhandledrejection', (event) => sayFault(event.reason?.message || String(event.reason)));

  startWorker();
  workerReady.then(
    () => {
      setText(statusLine, 'Ready. Files you open stay on this computer.');
      document.body.dataset.ready = 'yes';
      performance.mark('kvox:ready');
    },
    (failure) => setText(statusLine, `This browser cannot run the decoder: ${failure.message}`));
})();
