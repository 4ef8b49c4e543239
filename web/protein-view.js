// One protein's plot and its controls: the protein picker (every protein,
// searchable), zoom, the segment details, and saving the picture.
'use strict';

var proteinView = (() => { // var: a global that results.js uses
  const $ = (id) => document.getElementById(id);
  let results = null; // see results.js: { ranked, byEntry, residuesOf, special, measure, ... }
  const view = { entry: 0, from: 1, to: 1, selected: null };

  const segments = (n) => (n === 0 ? '' : n === 1 ? ', 1 segment' : `, ${n.toLocaleString('en-US')} segments`);
  const label = (p) => `${p.id} (entry ${p.entry}${segments(p.segments.length)})`;

  // Every protein whose ID holds the search text, most significant first.
  function fillPicker() {
    const search = $('protein-search').value.trim().toUpperCase();
    const matches = search ? results.ranked.filter((p) => p.id.toUpperCase().includes(search)) : results.ranked;
    $('protein').replaceChildren(...matches.map((p) => new Option(label(p), p.entry)));
    if (matches.some((p) => p.entry === view.entry)) $('protein').value = String(view.entry);
    const all = results.ranked.length.toLocaleString('en-US');
    $('protein-matches').textContent = search ? `${matches.length.toLocaleString('en-US')} of ${all} match`
      : results.ranked.length === 1 ? '1 protein' : `all ${all}, most significant first`;
  }

  function show(data) {
    results = data;
    $('protein-search').value = '';
    view.entry = 0;
    fillPicker();
  }

  // The protein, zoomed to `segment` when one is given.
  function select(entry, segment = null) {
    const protein = results.byEntry.get(entry);
    if (!protein) return;
    if (![...$('protein').options].some((o) => Number(o.value) === entry)) {
      $('protein').append(new Option(label(protein), entry));
    }
    $('protein').value = String(entry);
    view.entry = entry;
    view.selected = segment;
    if (segment) {
      zoomTo(segment);
      describe(segment);
    } else {
      setView(1, protein.length);
      $('segment-details').textContent = 'Point at or focus a segment for its details; Enter zooms to it.';
    }
  }

  function zoomTo(segment) {
    const margin = Math.max(15, Math.round(segment.seg_length / 2));
    setView(segment.start - margin, segment.end + margin);
  }

  function setView(from, to) {
    const length = results.byEntry.get(view.entry).length;
    const span = Math.max(10, Math.min(length, Math.round(to - from + 1)));
    view.from = Math.round(Math.max(1, Math.min(from, length - span + 1)));
    view.to = Math.min(length, view.from + span - 1);
    draw();
  }

  const pFormat = (p) => (p === '' ? '' : p === 0 ? '0' : p < 1e-3 ? p.toExponential(2) : p.toPrecision(3));

  function describe(segment) {
    const protein = results.byEntry.get(view.entry);
    const which = segment.class ? ` ${segment.class}` : '';
    $('segment-details').textContent = `${protein.id}${which} ${segment.start}–${segment.end}: ` +
      `${segment.seg_length} residues, ${segment.special} ${segment.class ? `of ${segment.class}` : 'special'}, p = ${pFormat(segment.p_value)}, q = ${pFormat(segment.q_value)}, ${segment.residues}`;
  }

  function draw() {
    if (!results || !view.entry) return;
    const protein = results.byEntry.get(view.entry);
    $('plot-title').textContent = `Protein ${protein.id}`;
    $('view-from').value = view.from;
    $('view-to').value = view.to;
    const background = protein.length > 0 && protein.expected !== '' ? protein.expected / protein.length : null;
    const data = {
      id: protein.id, residues: results.residuesOf(protein.entry), segments: protein.segments,
      special: results.special, background, measure: results.measure(), selected: view.selected,
      classes: results.classes, threshold: results.qThreshold(),
    };
    const picture = results.classes ? plots.classTracks : plots.protein;
    const svg = picture(data, view, (segment, zoom) => {
      describe(segment);
      if (zoom) {
        view.selected = segment;
        zoomTo(segment);
        const bar = $('plot').querySelector(`rect.segment[data-start="${segment.start}"]` +
          (segment.class ? `[data-class="${CSS.escape(segment.class)}"]` : ''));
        if (bar) bar.focus();
      }
    });
    $('plot').replaceChildren(svg);
  }

  $('protein-search').addEventListener('input', fillPicker);
  $('protein').addEventListener('change', () => select(Number($('protein').value)));
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

  // ---- Saving the picture ----

  function svgText() {
    return new XMLSerializer().serializeToString($('plot').querySelector('svg'));
  }
  const fileName = (suffix) => `${results.byEntry.get(view.entry).id}${suffix}`;
  $('save-svg').addEventListener('click', () => {
    results.download(new Blob([svgText()], { type: 'image/svg+xml' }), fileName('.svg'));
  });
  $('save-png').addEventListener('click', () => {
    const image = new Image();
    image.onload = () => {
      const canvas = document.createElement('canvas');
      canvas.width = 1800;
      canvas.height = Math.round((1800 * image.height) / image.width);
      canvas.getContext('2d').drawImage(image, 0, 0, canvas.width, canvas.height);
      canvas.toBlob((blob) => results.download(blob, fileName('.png')));
    };
    const svg = $('plot').querySelector('svg');
    const [, , w, h] = svg.getAttribute('viewBox').split(' ');
    image.width = Number(w);
    image.height = Number(h);
    image.src = `data:image/svg+xml;charset=utf-8,${encodeURIComponent(svgText())}`;
  });

  return { show, select, draw, pFormat };
})();
