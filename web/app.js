// The page: the form, the run, the tables, the plots and the downloads.
'use strict';

(() => {
  const $ = (id) => document.getElementById(id);
  const EXAMPLE_ARGS = { '7LESS_DROME': ['-A:R'], two_proteins: ['-A:R'] };
  const MAX_ROWS = 500;

  let source = null; // { blob, name } of a chosen file or example; null: the text box
  let results = null;
  let running = null; // AbortController of the run in progress
  const view = { entry: 0, from: 1, to: 1 };

  // ---- Examples, files and the text box ----

  function exampleName(file) {
    return file.replace(/\.fa(\.gz)?$/, '');
  }

  function exampleBlob(example) {
    const binary = atob(example.base64);
    const bytes = new Uint8Array(binary.length);
    for (let i = 0; i < binary.length; i++) bytes[i] = binary.charCodeAt(i);
    return new Blob([bytes]);
  }

  function useFile(blob, name, label) {
    source = { blob, name };
    $('file-name').textContent = label;
  }

  async function loadExample(name) {
    const example = TALVO_EXAMPLES.find((e) => exampleName(e.file) === name);
    if (!example) throw new Error(`no bundled example named ${name}`);
    const blob = exampleBlob(example);
    $('sequences').value = example.file.endsWith('.gz') ? '' : await blob.text();
    useFile(blob, example.file, `${example.file} (bundled example)`);
    setForm(EXAMPLE_ARGS[name] || []);
  }

  for (const example of TALVO_EXAMPLES) {
    const button = document.createElement('button');
    button.type = 'button';
    button.textContent = exampleName(example.file);
    button.addEventListener('click', () => loadExample(exampleName(example.file)));
    $('examples').append(button, ' ');
  }

  $('sequences').addEventListener('input', () => {
    source = null;
    $('file-name').textContent = '';
    $('file').value = '';
  });
  $('file').addEventListener('change', () => {
    const file = $('file').files[0];
    if (!file) return;
    $('sequences').value = '';
    useFile(file, file.name, '');
  });
  $('sequences').addEventListener('dragover', (event) => event.preventDefault());
  $('sequences').addEventListener('drop', (event) => {
    const file = event.dataTransfer.files[0];
    if (!file) return;
    event.preventDefault();
    $('sequences').value = '';
    useFile(file, file.name, `${file.name} (dropped)`);
  });

  // The text box: FASTA as it is; a bare sequence gets a header.
  function pastedText() {
    const text = $('sequences').value;
    if (text.trim() === '') return null;
    return /^\s*>/.test(text) || /\n>/.test(text) ? text : `>sequence\n${text}\n`;
  }

  // ---- The form and talvo-proteome's options ----

  const fields = {
    alphabet: $('alphabet'), background: $('background'), window: $('window'), linkage: $('linkage'),
    estimate: $('estimate-linkage'), nullModel: $('null'), count: $('random-count'), seed: $('seed'),
    fractional: $('fractional'), exactNull: $('exact-null'), significance: $('significance'), all: $('all'),
    threshold: $('window-threshold'), noMerge: $('no-merge'), mask: $('mask'), extra: $('extra'),
  };
  const defaults = {};
  for (const [key, field] of Object.entries(fields)) defaults[key] = field.type === 'checkbox' ? field.checked : field.value;

  function splitWords(text) {
    return text.trim() === '' ? [] : text.trim().split(/\s+/);
  }

  function formArgs() {
    const f = fields;
    const args = [];
    if (f.alphabet.value !== defaults.alphabet) args.push(`-A:${f.alphabet.value}`);
    if (f.background.value !== '-T') args.push(f.background.value);
    if (Number(f.window.value) >= 2) args.push(`-W:${f.window.value}`);
    if (f.estimate.checked) args.push('-K');
    else if (f.linkage.value !== defaults.linkage) args.push(`-E:${f.linkage.value}`);
    if (f.nullModel.value) args.push(`${f.nullModel.value}:${f.count.value}`);
    if (f.seed.value !== '') args.push('--seed', f.seed.value);
    if (f.fractional.checked) args.push('--fractional-windows');
    if (f.exactNull.checked) args.push('--exact-null');
    if (f.significance.value !== defaults.significance) args.push(`-M:${f.significance.value}`);
    if (f.all.checked) args.push('--all');
    if (f.threshold.value !== defaults.threshold) args.push(`-P:${f.threshold.value}`);
    if (f.noMerge.checked) args.push('-N');
    if (f.mask.value) args.push(f.mask.value);
    return args.concat(splitWords(f.extra.value));
  }

  // The form from options; what it has no field for goes to "More options".
  function setForm(args) {
    const f = fields;
    for (const [key, field] of Object.entries(fields)) {
      if (field.type === 'checkbox') field.checked = defaults[key];
      else field.value = defaults[key];
    }
    const extra = [];
    for (let i = 0; i < args.length; i++) {
      const arg = args[i];
      const letter = /^-[A-Za-z]/.test(arg) && !arg.startsWith('--') ? arg[1].toUpperCase() : '';
      const value = arg.slice(3);
      if (letter === 'A') f.alphabet.value = value;
      else if (['-T', '-X', '-I'].includes(`-${letter}`) && arg.length === 2) f.background.value = `-${letter}`;
      else if (letter === 'W') f.window.value = value;
      else if (letter === 'E') f.linkage.value = value;
      else if (letter === 'K') f.estimate.checked = true;
      else if (letter === 'S' || letter === 'G') {
        f.nullModel.value = `-${letter}`;
        f.count.value = value;
      } else if (letter === 'M') f.significance.value = value;
      else if (letter === 'P') f.threshold.value = value;
      else if (letter === 'N') f.noMerge.checked = true;
      else if (letter === 'L') f.mask.value = '-L';
      else if (arg === '--all') f.all.checked = true;
      else if (arg === '--fractional-windows') f.fractional.checked = true;
      else if (arg === '--exact-null' && !$('exact-null-option').hidden) f.exactNull.checked = true;
      else if (arg === '--seed' && i + 1 < args.length) f.seed.value = args[++i];
      else if (arg.startsWith('--seed=')) f.seed.value = arg.slice(7);
      else extra.push(arg);
    }
    f.extra.value = extra.join(' ');
    showCommand();
  }

  function quote(word) {
    return /^[\w.:/=+-]+$/.test(word) ? word : `'${word.replace(/'/g, "'\\''")}'`;
  }

  function showCommand() {
    const input = source ? source.name : '- < pasted.fa';
    $('command').textContent = ['talvo-proteome', ...formArgs().map(quote), '--summary', 'summary.tsv',
      '--masked', 'masked.fa', input].join(' ');
  }
  $('form').addEventListener('input', showCommand);
  $('form').addEventListener('change', showCommand);

  // ---- Running ----

  function setStatus(text) {
    $('status').textContent = text;
  }

  function showError(message) {
    $('error').hidden = !message;
    $('error').textContent = message || '';
    if (message) $('error').scrollIntoView({ block: 'center' });
  }

  async function analyse() {
    showError('');
    const text = source ? null : pastedText();
    if (!source && text === null) {
      showError('Paste sequences, choose a file or pick an example first.');
      return;
    }
    if (running) running.abort();
    const controller = new AbortController();
    running = controller;
    $('cancel').disabled = false;
    $('analyse').disabled = true;
    $('progress').hidden = false;
    $('progress').value = 0;
    setStatus('Analysing…');
    const started = performance.now();
    try {
      const input = source ? source.blob : text;
      const name = source ? source.name : '-';
      const result = await talvo.analyse(input, formArgs(), {
        name, wantText: true, signal: controller.signal,
        onProgress: (fraction, entries, total) => {
          $('progress').value = fraction;
          setStatus(`Analysing… ${entries} of ${total} entries`);
        },
      });
      setStatus(`Done in ${((performance.now() - started) / 1000).toFixed(2)} s.`);
      show(result, name);
    } catch (error) {
      setStatus(error.name === 'AbortError' ? 'Cancelled.' : 'Stopped.');
      if (error.name !== 'AbortError') showError(error.message);
    } finally {
      if (running === controller) running = null;
      $('cancel').disabled = true;
      $('analyse').disabled = false;
      $('progress').hidden = true;
    }
  }

  $('form').addEventListener('submit', (event) => {
    event.preventDefault();
    analyse();
  });
  $('cancel').addEventListener('click', () => running && running.abort());

  // ---- Results ----

  function parseTable(text, numeric) {
    const lines = text.split('\n').filter((line) => line !== '');
    if (lines.length === 0) return [];
    const header = lines[0].split('\t');
    return lines.slice(1).map((line) => {
      const cells = line.split('\t');
      const row = {};
      header.forEach((name, i) => {
        const cell = cells[i] === undefined ? '' : cells[i];
        row[name] = numeric.includes(name) && cell !== '' ? Number(cell) : cell; // empty: skipped
      });
      return row;
    });
  }

  // Entry number -> [header, residues] of the analysed text, read as the
  // program reads it: '>' opens an entry only at the start of a line, and
  // only letters (upper-cased) and '-' are residues.
  function indexEntries(text) {
    const starts = [];
    if (text.startsWith('>')) starts.push(0);
    for (let i = text.indexOf('\n>'); i >= 0; i = text.indexOf('\n>', i + 1)) starts.push(i + 1);
    return (entry) => {
      const start = starts[entry - 1];
      if (start === undefined) return ['', ''];
      const end = entry < starts.length ? starts[entry] : text.length;
      const newline = text.indexOf('\n', start);
      const bodyStart = newline < 0 || newline > end ? end : newline + 1;
      const residues = text.slice(bodyStart, end).replace(/[^A-Za-z-]/g, '').toUpperCase();
      return [text.slice(start + 1, bodyStart).replace(/\r?\n?$/, ''), residues];
    };
  }

  // The special residues of the options (the last -A wins).
  function specialSet(args) {
    let alphabet = 'GPSTDNH';
    for (const arg of args) if (/^-[Aa]/.test(arg) && !arg.startsWith('--')) alphabet = arg.slice(3);
    return new Set(alphabet.toUpperCase().replace(/[^A-Z]/g, ''));
  }

  function count(n, one, many = `${one}s`) {
    return `${n} ${n === 1 ? one : many}`;
  }

  // Entries whose letters are nine in ten or more A, C, G, T, U or N: the
  // reader's test of a whole input, applied to each entry.
  function nucleotideEntries(proteins, entries) {
    return proteins.filter((p) => {
      const letters = entries(p.entry)[1].replace(/-/g, '');
      return letters.length > 0 && letters.replace(/[^ACGTUN]/g, '').length * 10 >= letters.length * 9;
    }).length;
  }

  // The run's warnings in plain sight, with how many entries look like
  // nucleotides; returns whether the input does.
  function showWarnings(log, proteins, entries) {
    const warnings = log.split('\n').filter((line) => line.startsWith('talvo-proteome: warning: '))
      .map((line) => line.slice('talvo-proteome: warning: '.length));
    const nucleotides = warnings.some((line) => line.includes(': looks like nucleotides: '));
    if (nucleotides) {
      const n = nucleotideEntries(proteins, entries);
      warnings.push(`${n} of ${count(proteins.length, 'entry', 'entries')} look like nucleotides: ` +
        'their segments and p-values say nothing about protein composition.');
    }
    $('input-warning').hidden = warnings.length === 0;
    $('input-warning').textContent = warnings.map((line) => `Warning: ${line}`).join('\n');
    return nucleotides;
  }

  function show(result, name) {
    const segments = parseTable(result.tsv,
      ['entry', 'length', 'segment', 'start', 'end', 'seg_length', 'special', 'p_value', 'q_value']);
    const proteins = parseTable(result.summary, ['entry', 'length', 'special', 'expected', 'exact_tail', 'q_value']);
    const byEntry = new Map(proteins.map((p) => [p.entry, Object.assign(p, { segments: [], best: Infinity })]));
    for (const s of segments) {
      const protein = byEntry.get(s.entry);
      if (!protein) continue;
      protein.segments.push(s);
      protein.best = Math.min(protein.best, s.p_value);
    }
    results = { result, name, segments, proteins, byEntry, entries: indexEntries(result.text || ''),
      special: specialSet(formArgs()), sorts: {} };
    $('results').hidden = false;
    const withSegments = proteins.filter((p) => p.segments.length > 0);
    const skipped = proteins.filter((p) => p.skipped).length;
    // Nucleotide input is not called proteins.
    const unit = showWarnings(result.log, proteins, results.entries) ? ['entry', 'entries'] : ['protein'];
    $('summary-line').textContent = `${count(proteins.length - skipped, ...unit)} analysed` +
      (skipped > 0 ? `, ${count(skipped, 'entry', 'entries')} skipped (see the proteins table)` : '') +
      `; ${count(segments.length, 'segment')} reported in ${count(withSegments.length, ...unit)}.`;
    $('log').textContent = result.log;

    const none = document.createElement('p');
    none.textContent = 'No segment reported. Tick "report every segment" to see the non-significant ones too.';
    $('histogram').replaceChildren(segments.length > 0 ? plots.histogram(segments.map((s) => s.p_value)) : none);
    const strongest = withSegments.slice().sort((a, b) => a.best - b.best).slice(0, 10);
    $('strongest').replaceChildren(...strongest.map((p) => {
      const item = document.createElement('li');
      item.append(proteinButton(p), `: p = ${pFormat(p.best)}, ${count(p.segments.length, 'segment')}`);
      return item;
    }));

    const choices = proteins.length <= 3000 ? proteins : withSegments.slice(0, 3000);
    $('protein').replaceChildren(...choices.map((p) => new Option(`${p.id} (entry ${p.entry})`, p.entry)));
    renderSegments();
    renderProteins();
    const first = strongest[0] || proteins[0];
    if (first) selectProtein(first.entry);
  }

  function proteinButton(protein) {
    const button = document.createElement('button');
    button.type = 'button';
    button.className = 'link';
    button.textContent = protein.id;
    button.title = `Plot ${protein.id}`;
    button.addEventListener('click', () => {
      selectProtein(protein.entry);
      $('plot-title').scrollIntoView({ behavior: 'smooth' });
    });
    return button;
  }

  // A sortable table: columns [key, label, format]; rows already filtered.
  function renderTable(table, columns, rows, sortKey, countLabel, total) {
    const sort = results.sorts[sortKey] || null;
    if (sort) {
      rows = rows.slice().sort((a, b) => {
        const x = a[sort.key];
        const y = b[sort.key];
        return (x < y ? -1 : x > y ? 1 : 0) * sort.direction;
      });
    }
    const head = document.createElement('tr');
    for (const [key, label] of columns) {
      const th = document.createElement('th');
      th.scope = 'col';
      th.setAttribute('aria-sort', sort && sort.key === key ? (sort.direction > 0 ? 'ascending' : 'descending') : 'none');
      const button = document.createElement('button');
      button.type = 'button';
      button.textContent = label + (sort && sort.key === key ? (sort.direction > 0 ? ' ▲' : ' ▼') : '');
      button.addEventListener('click', () => {
        results.sorts[sortKey] = { key, direction: sort && sort.key === key ? -sort.direction : 1 };
        sortKey === 'segments' ? renderSegments() : renderProteins();
        table.querySelector(`th:nth-child(${columns.findIndex((c) => c[0] === key) + 1}) button`).focus();
      });
      th.append(button);
      head.append(th);
    }
    const body = rows.slice(0, MAX_ROWS).map((row) => {
      const tr = document.createElement('tr');
      for (const [key, , format] of columns) {
        const td = document.createElement('td');
        const value = format ? format(row[key], row) : row[key];
        td.append(value instanceof Node ? value : String(value));
        tr.append(td);
      }
      return tr;
    });
    table.replaceChildren(document.createElement('thead'), document.createElement('tbody'));
    table.tHead.append(head);
    table.tBodies[0].append(...body);
    countLabel.textContent = rows.length > MAX_ROWS ? `showing ${MAX_ROWS} of ${rows.length} (of ${total})`
      : `${rows.length} of ${total}`;
  }

  const pFormat = (p) => (p === '' ? '' : p === 0 ? '0' : p < 1e-3 ? p.toExponential(2) : p.toPrecision(3));

  function renderSegments() {
    const filter = $('segment-filter').value.trim().toUpperCase();
    const rows = results.segments.filter((s) => !filter || s.id.toUpperCase().includes(filter) ||
      s.residues.includes(filter));
    renderTable($('segments'), [
      ['id', 'Protein', (id, row) => proteinButton(results.byEntry.get(row.entry) || { id, entry: row.entry })],
      ['start', 'Start'], ['end', 'End'], ['seg_length', 'Length'], ['special', 'Special'],
      ['p_value', 'p-value', pFormat], ['q_value', 'q-value', pFormat],
      ['residues', 'Residues', (r) => (r.length > 60 ? `${r.slice(0, 57)}…` : r)],
    ], rows, 'segments', $('segment-count'), results.segments.length);
  }

  function renderProteins() {
    const filter = $('protein-filter').value.trim().toUpperCase();
    const rows = results.proteins.filter((p) => !filter || p.id.toUpperCase().includes(filter));
    renderTable($('proteins'), [
      ['entry', 'Entry'], ['id', 'Protein', (id, row) => proteinButton(row)], ['length', 'Length'],
      ['special', 'Special'], ['expected', 'Expected'], ['direction', 'Tail'],
      ['exact_tail', 'Exact p', pFormat], ['q_value', 'q-value', pFormat],
      ['best', 'Best segment p', (p) => (p === Infinity ? '' : pFormat(p))], ['skipped', 'Skipped'],
    ], rows, 'proteins', $('protein-count'), results.proteins.length);
  }
  $('segment-filter').addEventListener('input', renderSegments);
  $('protein-filter').addEventListener('input', renderProteins);

  // ---- The protein plot ----

  function selectProtein(entry) {
    const protein = results.byEntry.get(entry);
    if (!protein) return;
    if (![...$('protein').options].some((o) => Number(o.value) === entry)) {
      $('protein').append(new Option(`${protein.id} (entry ${entry})`, entry));
    }
    $('protein').value = String(entry);
    view.entry = entry;
    view.from = 1;
    view.to = Math.max(1, protein.length);
    drawPlot();
  }

  function setView(from, to) {
    const length = results.byEntry.get(view.entry).length;
    const span = Math.max(10, Math.min(length, Math.round(to - from + 1)));
    from = Math.round(Math.max(1, Math.min(from, length - span + 1)));
    view.from = from;
    view.to = Math.min(length, from + span - 1);
    drawPlot();
  }

  function drawPlot() {
    const protein = results.byEntry.get(view.entry);
    const residues = results.entries(view.entry)[1];
    $('plot-title').textContent = `Protein ${protein.id}`;
    $('view-from').value = view.from;
    $('view-to').value = view.to;
    const background = protein.length > 0 && protein.expected !== '' ? protein.expected / protein.length : null;
    const svg = plots.protein({ id: protein.id, residues, segments: protein.segments, special: results.special,
      background }, view, (segment, zoom) => {
      $('segment-details').textContent = `${protein.id} ${segment.start}–${segment.end}: ${segment.seg_length} residues, ` +
        `${segment.special} special, p = ${pFormat(segment.p_value)}, q = ${pFormat(segment.q_value)}, ${segment.residues}`;
      if (zoom) {
        const margin = Math.max(5, Math.round(segment.seg_length / 2));
        setView(segment.start - margin, segment.end + margin);
        const bar = $('plot').querySelector(`rect.segment[data-start="${segment.start}"]`);
        if (bar) bar.focus();
      }
    });
    $('plot').replaceChildren(svg);
  }

  $('protein').addEventListener('change', () => selectProtein(Number($('protein').value)));
  $('view-from').addEventListener('change', () => setView(Number($('view-from').value), view.to));
  $('view-to').addEventListener('change', () => setView(view.from, Number($('view-to').value)));
  $('zoom-in').addEventListener('click', () => {
    const quarter = (view.to - view.from + 1) / 4;
    setView(view.from + quarter, view.to - quarter);
  });
  $('zoom-out').addEventListener('click', () => {
    const half = (view.to - view.from + 1) / 2;
    setView(view.from - half, view.to + half);
  });
  $('zoom-all').addEventListener('click', () => setView(1, results.byEntry.get(view.entry).length));

  // ---- Downloads ----

  function download(blob, filename) {
    const link = document.createElement('a');
    link.href = URL.createObjectURL(blob);
    link.download = filename;
    document.body.append(link);
    link.click();
    link.remove();
    setTimeout(() => URL.revokeObjectURL(link.href), 60000);
  }

  const suffixes = { tsv: '.segments.tsv', gff3: '.gff3', bed: '.bed', summary: '.summary.tsv', masked: '.masked.fa' };
  function baseName() {
    return results.name === '-' ? 'talvo' : results.name.replace(/(\.gz)?$/, '').replace(/\.[^.]*$/, '');
  }
  for (const button of document.querySelectorAll('[data-download]')) {
    button.addEventListener('click', () => {
      const kind = button.dataset.download;
      const content = results.result.raw[kind] || results.result[kind];
      download(new Blob([content], { type: 'text/plain' }), baseName() + suffixes[kind]);
    });
  }

  function svgText() {
    return new XMLSerializer().serializeToString($('plot').querySelector('svg'));
  }
  $('save-svg').addEventListener('click', () => {
    download(new Blob([svgText()], { type: 'image/svg+xml' }), `${results.byEntry.get(view.entry).id}.svg`);
  });
  $('save-png').addEventListener('click', () => {
    const image = new Image();
    image.onload = () => {
      const canvas = document.createElement('canvas');
      canvas.width = 1800;
      canvas.height = Math.round((1800 * image.height) / image.width);
      canvas.getContext('2d').drawImage(image, 0, 0, canvas.width, canvas.height);
      canvas.toBlob((blob) => download(blob, `${results.byEntry.get(view.entry).id}.png`));
    };
    const svg = $('plot').querySelector('svg');
    const [, , w, h] = svg.getAttribute('viewBox').split(' ');
    image.width = Number(w);
    image.height = Number(h);
    image.src = `data:image/svg+xml;charset=utf-8,${encodeURIComponent(svgText())}`;
  });

  // ---- index.html#example=NAME (or ?example=NAME), optionally &args=... ----

  async function openFromAddress() {
    const params = new URLSearchParams(location.hash.slice(1) || location.search.slice(1));
    const name = params.get('example');
    if (!name) return;
    try {
      await loadExample(name);
      if (params.has('args')) setForm(splitWords(params.get('args')));
      await analyse();
    } catch (error) {
      showError(error.message);
    }
  }
  window.addEventListener('hashchange', openFromAddress);
  showCommand();
  // Options that not every build has are offered when the tool knows them.
  talvo.help().then((text) => {
    $('exact-null-option').hidden = !text.includes('--exact-null');
  }).finally(openFromAddress);
})();
