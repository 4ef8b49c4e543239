// The results: the segments at q <= the threshold first, the overview, the
// tables (most significant first) and the downloads, all from the tool's own
// outputs: the TSV, the summary, and the masked FASTA for the residues.
'use strict';

var pageResults = (() => { // var: a global that app.js uses
  const $ = (id) => document.getElementById(id);
  const MAX_ROWS = 500;
  const STRONGEST = 10;
  const { pFormat } = proteinView;
  let results = null;

  const number = (n) => n.toLocaleString('en-US');
  const count = (n, one, many = `${one}s`) => `${number(n)} ${n === 1 ? one : many}`;
  const qThreshold = () => { // 0.05 while the field is empty or out of range
    const value = Number($('q-threshold').value);
    return $('q-threshold').value !== '' && value >= 0 && value <= 1 ? value : 0.05;
  };
  const measure = () => $('colour-by').value;
  const symbol = () => (measure() === 'q_value' ? 'q' : 'p');

  // Rows as objects, and the header as rows.columns. Plain loops: a
  // proteome's discovery summary has 600,000 rows.
  function parseTable(text, numeric) {
    const lines = text.split('\n');
    const header = lines[0] === '' ? [] : lines[0].split('\t');
    const isNumber = header.map((name) => numeric.includes(name));
    const rows = [];
    for (let l = 1; l < lines.length; l++) {
      if (lines[l] === '') continue;
      const cells = lines[l].split('\t');
      const row = {};
      for (let i = 0; i < header.length; i++) {
        const cell = cells[i] === undefined ? '' : cells[i];
        row[header[i]] = isNumber[i] && cell !== '' ? Number(cell) : cell; // empty: skipped
      }
      rows.push(row);
    }
    rows.columns = header;
    return rows;
  }

  // Discovery's classes in the class set's order (--list-classes), each with
  // its letters and colour; a class only seen in the table goes last.
  function classSet(listing, segments) {
    const classes = new Map(parseTable(listing, []).map((c) => [c.class, { name: c.class, letters: c.letters }]));
    for (const s of segments) if (!classes.has(s.class)) classes.set(s.class, { name: s.class, letters: '' });
    [...classes.values()].forEach((c, i) => { c.colour = plots.classColour(i); });
    return classes;
  }

  // Each summary row's smallest segment q-value: its protein's for its class.
  function bestOfClasses(summary, byEntry) {
    const best = new Map();
    for (const protein of byEntry.values()) {
      if (protein.segments.length === 0) continue;
      const ofClass = new Map();
      for (const s of protein.segments) ofClass.set(s.class, Math.min(ofClass.get(s.class) ?? Infinity, s.q_value));
      best.set(protein.entry, ofClass);
    }
    for (const row of summary) row.bestQ = best.get(row.entry)?.get(row.class) ?? Infinity;
  }

  // One protein per entry from discovery's summary, which has a row for
  // each of its classes.
  function entriesOf(summary) {
    const proteins = new Map();
    for (const row of summary) {
      if (!proteins.has(row.entry)) {
        proteins.set(row.entry, { input: row.input, entry: row.entry, id: row.id, length: row.length, expected: '',
          skipped: row.skipped });
      }
    }
    return [...proteins.values()];
  }

  // Entry number -> its residues as the tool analysed them: the masked FASTA
  // (one record per entry, in order) in upper case, with the reported
  // segments' residues put back. Discovery's mask joins runs further apart
  // than its segments do: an X between two of them stays an X.
  function residueIndex(masked, byEntry) {
    let starts = null;
    return (entry) => {
      if (!starts) {
        starts = masked.startsWith('>') ? [0] : [];
        for (let i = masked.indexOf('\n>'); i >= 0; i = masked.indexOf('\n>', i + 1)) starts.push(i + 1);
      }
      const start = starts[entry - 1];
      if (start === undefined) return '';
      const end = entry < starts.length ? starts[entry] : masked.length;
      const bodyStart = masked.indexOf('\n', start) + 1;
      const residues = masked.slice(bodyStart, end).replace(/\n/g, '').toUpperCase().split('');
      for (const s of byEntry.get(entry)?.segments || []) residues.splice(s.start - 1, s.seg_length, ...s.residues);
      return residues.join('');
    };
  }

  // Entries whose letters are nine in ten or more A, C, G, T, U or N: the
  // reader's test of a whole input, applied to each entry.
  function nucleotideEntries(proteins, residuesOf) {
    return proteins.filter((p) => {
      const letters = residuesOf(p.entry).replace(/-/g, '');
      return letters.length > 0 && letters.replace(/[^ACGTUN]/g, '').length * 10 >= letters.length * 9;
    }).length;
  }

  // The run's warnings in plain sight, with how many entries look like
  // nucleotides; returns whether the input does.
  function showWarnings(log, proteins, residuesOf) {
    const warnings = log.split('\n').filter((line) => line.startsWith('talvo-proteome: warning: '))
      .map((line) => line.slice('talvo-proteome: warning: '.length));
    const nucleotides = warnings.some((line) => line.includes(': looks like nucleotides: '));
    if (nucleotides) {
      const n = nucleotideEntries(proteins, residuesOf);
      warnings.push(`${n} of ${count(proteins.length, 'entry', 'entries')} look like nucleotides: ` +
        'their segments and p-values say nothing about protein composition.');
    }
    $('input-warning').hidden = warnings.length === 0;
    $('input-warning').textContent = warnings.map((line) => `Warning: ${line}`).join('\n');
    return nucleotides;
  }

  // Most significant first: by q, then p; a missing value ('') last.
  const orderOf = (value) => (value === '' ? Infinity : value);
  function bySignificance(a, b) {
    return orderOf(a.q_value) - orderOf(b.q_value) || orderOf(a.p_value) - orderOf(b.p_value) ||
      a.entry - b.entry || (a.start || 0) - (b.start || 0);
  }
  const byBest = (a, b) => a.bestQ - b.bestQ || a.bestP - b.bestP || a.entry - b.entry;

  function show(result, name) {
    const segments = parseTable(result.tsv,
      ['entry', 'length', 'segment', 'start', 'end', 'seg_length', 'special', 'p_value', 'q_value']);
    const summary = parseTable(result.summary, ['entry', 'length', 'special', 'expected', 'exact_tail', 'q_value']);
    const discovery = segments.columns.includes('class');
    const proteins = discovery ? entriesOf(summary) : summary;
    const byEntry = new Map(proteins.map((p) => [p.entry, Object.assign(p, { segments: [], bestP: Infinity, bestQ: Infinity })]));
    for (const s of segments) {
      const protein = byEntry.get(s.entry);
      if (!protein) continue;
      protein.segments.push(s);
      protein.bestP = Math.min(protein.bestP, s.p_value);
      protein.bestQ = Math.min(protein.bestQ, s.q_value);
    }
    if (discovery) bestOfClasses(summary, byEntry);
    segments.sort(bySignificance);
    for (const protein of proteins) protein.segments.sort(bySignificance);
    results = {
      result, name, segments, proteins, byEntry, ranked: proteins.slice().sort(byBest),
      residuesOf: residueIndex(result.masked, byEntry), special: new Set(result.alphabet.toUpperCase()),
      measure, qThreshold, download, sorts: {},
      summary: bySignificanceOfSummary(summary),
      classes: discovery ? classSet(result.classes, segments) : null,
    };
    showClassFilter();
    const mask = document.querySelector('[data-download=masked]');
    mask.textContent = discovery ? 'discovery mask (FASTA)' : 'masked FASTA';
    mask.title = discovery ? "Every class's segments with q below the significance threshold, joined at " +
      'the mask\'s linkage distance, masked for a homology search' : '';
    $('results').hidden = false;
    const skipped = proteins.filter((p) => p.skipped).length;
    // Nucleotide input is not called proteins.
    results.unit = showWarnings(result.log, proteins, results.residuesOf) ? ['entry', 'entries'] : ['protein'];
    const withSegments = proteins.filter((p) => p.segments.length > 0).length;
    $('summary-line').textContent = `${count(proteins.length - skipped, ...results.unit)} analysed` +
      (discovery ? ` for ${count(results.classes.size, 'class', 'classes')}` : '') +
      (skipped > 0 ? `, ${count(skipped, 'entry', 'entries')} skipped (see the proteins table)` : '') +
      `; ${count(segments.length, 'segment')} reported in ${count(withSegments, ...results.unit)}` +
      (result.seed ? `; random sequences from seed ${result.seed} (--seed ${result.seed} repeats the run).` : '.');
    $('log').textContent = result.log;
    showSignificant();
    proteinView.show(results);
    renderSegments();
    renderProteins();
    const top = results.ranked[0];
    if (top) proteinView.select(top.entry, top.segments[0] || null);
  }

  // The headline, the histogram and the strongest proteins, which follow the
  // q threshold and the colour switch.
  function showSignificant() {
    const threshold = qThreshold();
    const significant = results.segments.filter((s) => s.q_value <= threshold);
    const proteins = new Set(significant.map((s) => s.entry)).size;
    const classes = results.classes ? significantClasses(significant) : [];
    $('q-count').textContent = significant.length === 0 ? 'No segment'
      : `${count(significant.length, 'segment')} in ${count(proteins, ...results.unit)}` +
        (results.classes ? `, ${count(classes.length, 'class', 'classes')}` : '');
    showClassCounts(classes);

    const values = results.segments.map((s) => s[measure()]);
    const none = document.createElement('p');
    none.textContent = 'No segment reported. Tick "report every segment" to see the non-significant ones too.';
    $('histogram').replaceChildren(values.length > 0
      ? plots.histogram(values, symbol(), measure() === 'q_value' ? threshold : null) : none);
    const ranking = measure() === 'q_value' ? byBest : (a, b) => a.bestP - b.bestP || a.entry - b.entry;
    const strongest = results.proteins.filter((p) => p.segments.length > 0).sort(ranking).slice(0, STRONGEST);
    $('strongest').replaceChildren(...strongest.map((p) => {
      const item = document.createElement('li');
      const best = measure() === 'q_value' ? p.bestQ : p.bestP;
      const biased = results.classes ? significantClasses(p.segments.filter((s) => s.q_value <= threshold)) : [];
      item.append(proteinButton(p), `: ${symbol()} = ${pFormat(best)}, ${count(p.segments.length, 'segment')}` +
        (biased.length > 0 ? ` (${biased.map((c) => c.name).join(', ')} at q ≤ ${threshold})` : ''));
      return item;
    }));
    const more = results.proteins.filter((p) => p.segments.length > 0).length - strongest.length;
    $('strongest-more').textContent = more > 0 ? `and ${count(more, 'more protein')} with segments: ` +
      'pick them above the plot, or see the tables.' : '';
    for (const row of document.querySelectorAll('#segments tbody tr')) {
      row.classList.toggle('significant', Number(row.dataset.q) <= threshold);
    }
  }

  // The classes of `significant` in the class set's order, each with its
  // segments and proteins.
  function significantClasses(significant) {
    const found = new Map();
    for (const s of significant) {
      if (!found.has(s.class)) found.set(s.class, { segments: 0, proteins: new Set() });
      found.get(s.class).segments++;
      found.get(s.class).proteins.add(s.entry);
    }
    return [...results.classes.values()].filter((c) => found.has(c.name))
      .map((c) => ({ ...c, segments: found.get(c.name).segments, proteins: found.get(c.name).proteins.size }));
  }

  // Discovery's classes at the threshold, most segments first; each one
  // filters the segments table.
  function showClassCounts(classes) {
    $('class-counts').hidden = !results.classes;
    const items = classes.slice().sort((a, b) => b.segments - a.segments).map((c) => {
      const button = document.createElement('button');
      button.type = 'button';
      button.className = 'link';
      button.textContent = c.name;
      button.style.color = c.colour;
      button.title = `Show only ${c.name}'s segments (${c.letters}) in the table`;
      button.addEventListener('click', () => {
        $('class-filter').value = c.name;
        renderSegments();
        $('segments').scrollIntoView({ block: 'center' });
      });
      const item = document.createElement('span');
      item.append(button, `: ${count(c.segments, 'segment')} in ${count(c.proteins, 'protein')}`);
      return item;
    });
    $('class-counts').replaceChildren(...(items.length > 0 ? ['By class: '] : []),
      ...items.flatMap((item, i) => (i > 0 ? ['; ', item] : [item])));
  }

  function showClassFilter() {
    $('class-filter-label').hidden = !results.classes;
    const options = [new Option('every class', '')];
    for (const c of results.classes ? results.classes.values() : []) {
      options.push(new Option(c.letters && c.letters !== c.name ? `${c.name} (${c.letters})` : c.name, c.name));
    }
    $('class-filter').replaceChildren(...options);
  }

  function classCell(name) {
    const cell = document.createElement('span');
    cell.className = 'class';
    cell.style.borderColor = results.classes.get(name).colour;
    cell.textContent = name;
    return cell;
  }

  function proteinButton(protein, segment = null) {
    const button = document.createElement('button');
    button.type = 'button';
    button.className = 'link';
    button.textContent = protein.id;
    button.title = `Plot ${protein.id}`;
    button.addEventListener('click', () => {
      proteinView.select(protein.entry, segment || protein.segments[0] || null);
      $('plot-title').scrollIntoView({ behavior: 'smooth' });
    });
    return button;
  }

  // The column help, shown as each header's tooltip.
  const columnHelp = Object.fromEntries([...document.querySelectorAll('#column-help dt')]
    .map((dt) => [dt.textContent, dt.nextElementSibling.textContent]));

  // A sortable table: columns [key, label, format]; rows already filtered and
  // most significant first unless a header was clicked.
  function renderTable(table, columns, rows, sortKey, countLabel, total, [one, file]) {
    const sort = results.sorts[sortKey] || null;
    if (sort) {
      rows = rows.slice().sort((a, b) => {
        const x = orderOf(a[sort.key]);
        const y = orderOf(b[sort.key]);
        return (x < y ? -1 : x > y ? 1 : 0) * sort.direction;
      });
    }
    const head = document.createElement('tr');
    for (const [key, label] of columns) {
      const th = document.createElement('th');
      th.scope = 'col';
      th.title = columnHelp[label] || '';
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
    const threshold = qThreshold();
    const body = rows.slice(0, MAX_ROWS).map((row) => {
      const tr = document.createElement('tr');
      if (sortKey === 'segments') {
        tr.dataset.q = row.q_value;
        tr.classList.toggle('significant', row.q_value <= threshold);
      }
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
    const of = rows.length < total ? ` matching (of ${number(total)})` : '';
    const noun = `${one}s`;
    const order = sort ? `first by ${columns.find((c) => c[0] === sort.key)[1]}` : 'most significant';
    countLabel.textContent = rows.length > MAX_ROWS
      ? `showing the ${number(MAX_ROWS)} ${order} of ${number(rows.length)} ${noun}${of}: filter to narrow, ` +
        `or download the ${file} for all`
      : `${rows.length < total ? `${number(rows.length)} of ${count(total, one)}` : count(rows.length, one)}, ` +
        (sort ? `by ${order.slice(9)}` : 'most significant first');
  }

  // Long segments cut to 60 letters, whole in the tooltip and the plot's details.
  function shortResidues(residues) {
    if (residues.length <= 60) return residues;
    const span = document.createElement('span');
    span.textContent = `${residues.slice(0, 57)}…`;
    span.title = `${residues.length} residues: ${residues}`;
    return span;
  }

  const classColumn = () => (results.classes ? [['class', 'Class', classCell]] : []);

  function renderSegments() {
    const filter = $('segment-filter').value.trim().toUpperCase();
    const threshold = $('only-significant').checked ? qThreshold() : Infinity;
    const only = results.classes ? $('class-filter').value : '';
    const rows = results.segments.filter((s) => s.q_value <= threshold && (!only || s.class === only) &&
      (!filter || s.id.toUpperCase().includes(filter) || s.residues.includes(filter)));
    renderTable($('segments'), [
      ['id', 'Protein', (id, row) => proteinButton(results.byEntry.get(row.entry) || { id, entry: row.entry, segments: [] }, row)],
      ...classColumn(), ['start', 'Start'], ['end', 'End'], ['seg_length', 'Length'], ['special', 'Special'],
      ['p_value', 'p-value', pFormat], ['q_value', 'q-value', pFormat],
      ['residues', 'Residues', shortResidues],
    ], rows, 'segments', $('segment-count'), results.segments.length, ['segment', 'segments TSV']);
  }

  // The summary's rows (a protein's, or in discovery a protein's for a class),
  // which come in input order, most significant first. Sorted by their places
  // with the keys in typed arrays, twice as fast as comparing the rows.
  function bySignificanceOfSummary(rows) {
    const q = Float64Array.from(rows, (row) => orderOf(row.q_value));
    const tail = Float64Array.from(rows, (row) => orderOf(row.exact_tail));
    const places = Uint32Array.from(rows.keys()).sort((a, b) => q[a] - q[b] || tail[a] - tail[b] || a - b);
    return Array.from(places, (place) => rows[place]);
  }

  function renderProteins() {
    const filter = $('protein-filter').value.trim().toUpperCase();
    const rows = results.summary.filter((p) => !filter || p.id.toUpperCase().includes(filter) ||
      (results.classes && p.class.toUpperCase() === filter));
    const best = (q) => (q === Infinity ? '' : pFormat(q));
    renderTable($('proteins'), [
      ['entry', 'Entry'], ['id', 'Protein', (id, row) => proteinButton(results.byEntry.get(row.entry))],
      ...classColumn(), ['length', 'Length'],
      ['special', 'Special'], ['expected', 'Expected'], ['direction', 'Tail +/−'],
      ['exact_tail', 'Exact p', pFormat], ['q_value', 'q-value', pFormat],
      ['bestQ', 'Best segment q', best], ['skipped', 'Skipped'],
    ], rows, 'proteins', $('protein-count'), results.summary.length,
    [results.classes ? 'row' : 'protein', 'summary TSV']);
  }

  $('segment-filter').addEventListener('input', renderSegments);
  $('class-filter').addEventListener('change', renderSegments);
  $('only-significant').addEventListener('change', renderSegments);
  $('protein-filter').addEventListener('input', renderProteins);
  $('q-threshold').addEventListener('input', () => {
    showSignificant();
    if ($('only-significant').checked) renderSegments();
    if (results.classes) proteinView.draw(); // a class's track follows the threshold
  });
  $('colour-by').addEventListener('change', () => {
    showSignificant();
    proteinView.draw();
  });

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

  return { show };
})();
