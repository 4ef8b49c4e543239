// SVG pictures: one protein along its sequence, and the proteome's p-value
// histogram. Styles are attributes, so that a saved SVG stands alone.
'use strict';

const plots = (() => {
  const SVG = 'http://www.w3.org/2000/svg';

  function el(name, attributes = {}, parent = null) {
    const node = document.createElementNS(SVG, name);
    for (const [key, value] of Object.entries(attributes)) node.setAttribute(key, value);
    if (parent) parent.appendChild(node);
    return node;
  }

  function text(parent, x, y, content, attributes = {}) {
    const node = el('text', { x, y, 'font-family': 'sans-serif', 'font-size': 12, fill: '#222', ...attributes }, parent);
    node.textContent = content;
    return node;
  }

  // -log10 p, capped at 10, as a colour from pale yellow to dark red.
  function strength(p) {
    return Math.min(10, p > 0 ? -Math.log10(p) : 10);
  }
  function colour(p) {
    const t = strength(p) / 10;
    const mix = (a, b) => Math.round(a + (b - a) * t);
    return `rgb(${mix(254, 160)},${mix(224, 0)},${mix(139, 38)})`;
  }

  function niceStep(span, count) {
    const raw = span / count;
    const power = 10 ** Math.floor(Math.log10(raw));
    for (const m of [1, 2, 5, 10]) if (m * power >= raw) return m * power;
    return 10 * power;
  }

  // The fraction of special residues in a window centred on each position.
  function localFraction(residues, special, half) {
    const n = residues.length;
    const before = new Int32Array(n + 1);
    for (let i = 0; i < n; i++) before[i + 1] = before[i] + (special.has(residues[i]) ? 1 : 0);
    return (i) => {
      const a = Math.max(0, i - half);
      const b = Math.min(n, i + half + 1);
      return (before[b] - before[a]) / (b - a);
    };
  }

  function legend(svg, x, y, label) {
    const gradient = el('linearGradient', { id: 'strength' }, el('defs', {}, svg));
    for (const p of [1, 1e-5, 1e-10]) {
      el('stop', { offset: `${strength(p) * 10}%`, 'stop-color': colour(p) }, gradient);
    }
    text(svg, x - 6, y + 10, label, { 'text-anchor': 'end' });
    el('rect', { x, y, width: 120, height: 12, fill: 'url(#strength)', stroke: '#888' }, svg);
    text(svg, x, y + 26, '0', { 'text-anchor': 'middle', 'font-size': 10 });
    text(svg, x + 60, y + 26, '5', { 'text-anchor': 'middle', 'font-size': 10 });
    text(svg, x + 120, y + 26, '≥10', { 'text-anchor': 'middle', 'font-size': 10 });
  }

  // protein: { id, residues, segments: [{segment, start, end, seg_length,
  // special, p_value, q_value, residues}], special: Set, background: fraction
  // or null, measure: 'q_value' or 'p_value' (the colour), selected: a
  // segment or null }; view: { from, to } (1-based, inclusive).
  // onSegment(segment, zoom) is called on hover/focus (zoom false) and on
  // click/Enter (true).
  function protein(data, view, onSegment) {
    const width = 900;
    const left = 50;
    const right = 20;
    const inner = width - left - right;
    const showResidues = view.to - view.from + 1 <= 120;
    const height = showResidues ? 270 : 245;
    const svg = el('svg', { xmlns: SVG, viewBox: `0 0 ${width} ${height}`, width: '100%', role: 'img' });
    el('title', {}, svg).textContent = `${data.id}: ${data.segments.length} segments, positions ${view.from}–${view.to}`;
    el('rect', { x: 0, y: 0, width, height, fill: '#fff' }, svg);
    const span = view.to - view.from + 1;
    const xOf = (position) => left + ((position - view.from) / span) * inner; // left edge of a residue
    text(svg, left, 16, `${data.id} (${data.residues.length} residues)`, { 'font-weight': 'bold', 'font-size': 14 });

    // The local fraction of special residues, and the background's.
    const top = 30;
    const plotHeight = 110;
    const yOf = (fraction) => top + (1 - fraction) * plotHeight;
    el('rect', { x: left, y: top, width: inner, height: plotHeight, fill: '#f7f9fc', stroke: '#ccd' }, svg);
    for (const f of [0, 0.5, 1]) {
      text(svg, left - 6, yOf(f) + 4, String(f), { 'text-anchor': 'end', 'font-size': 10 });
    }
    text(svg, 12, top + plotHeight / 2, 'special fraction', {
      'font-size': 10, 'text-anchor': 'middle', transform: `rotate(-90 12 ${top + plotHeight / 2})`,
    });
    const half = Math.max(2, Math.min(50, Math.round(span / 100)));
    const fraction = localFraction(data.residues, data.special, half);
    const steps = Math.min(span, 600);
    const points = [];
    for (let s = 0; s < steps; s++) {
      const position = view.from + Math.floor((s * span) / steps);
      points.push(`${(xOf(position) + inner / span / 2).toFixed(1)},${yOf(fraction(position - 1)).toFixed(1)}`);
    }
    el('polyline', { points: points.join(' '), fill: 'none', stroke: '#2a6fb0', 'stroke-width': 1.5 }, svg);
    if (data.background !== null) {
      el('line', { x1: left, x2: left + inner, y1: yOf(data.background), y2: yOf(data.background),
        stroke: '#999', 'stroke-dasharray': '4 3' }, svg);
      text(svg, left + inner - 4, yOf(data.background) - 4, 'expected', { 'text-anchor': 'end', 'font-size': 10, fill: '#666' });
    }
    text(svg, left + 4, top + 12, `window ${2 * half + 1}`, { 'font-size': 10, fill: '#666' });

    // The segments as bars.
    const barTop = top + plotHeight + 14;
    const barHeight = 26;
    text(svg, left - 6, barTop + 17, 'segments', { 'text-anchor': 'end', 'font-size': 10 });
    el('line', { x1: left, x2: left + inner, y1: barTop + barHeight / 2, y2: barTop + barHeight / 2, stroke: '#bbb' }, svg);
    for (const segment of data.segments) {
      if (segment.end < view.from || segment.start > view.to) continue;
      const x0 = Math.max(left, xOf(segment.start));
      const x1 = Math.min(left + inner, xOf(segment.end + 1));
      const bar = el('rect', {
        x: x0.toFixed(2), y: barTop, width: Math.max(2, x1 - x0).toFixed(2), height: barHeight,
        fill: colour(segment[data.measure]), stroke: segment === data.selected ? '#f0a020' : '#600',
        'stroke-width': segment === data.selected ? 3 : 0.6, tabindex: 0,
        class: 'segment', 'data-start': segment.start, 'data-end': segment.end,
        'aria-label': describe(segment),
      }, svg);
      el('title', {}, bar).textContent = describe(segment);
      listen(bar, segment, onSegment);
    }

    axis(svg, { left, inner, y: barTop + barHeight + 12 }, view, (position) => {
      const residue = data.residues[position - 1];
      return [residue, data.special.has(residue) ? '#b00020' : null];
    });
    legend(svg, width - right - 130, 6, data.measure === 'q_value' ? '−log10 q' : '−log10 p');
    return svg;
  }

  // The position axis from y down, and the residues when there is room for
  // them: residueAt(position) gives the letter and its colour (null: plain).
  function axis(svg, { left, inner, y }, view, residueAt) {
    const span = view.to - view.from + 1;
    const xOf = (position) => left + ((position - view.from + 0.5) / span) * inner; // a residue's centre
    el('line', { x1: left, x2: left + inner, y1: y, y2: y, stroke: '#444' }, svg);
    const step = niceStep(span, 8);
    for (let tick = Math.ceil(view.from / step) * step; tick <= view.to; tick += step) {
      if (tick < 1) continue;
      el('line', { x1: xOf(tick), x2: xOf(tick), y1: y, y2: y + 5, stroke: '#444' }, svg);
      text(svg, xOf(tick), y + 17, String(tick), { 'text-anchor': 'middle', 'font-size': 10 });
    }
    if (span > 120) {
      text(svg, left + inner, y + 34, 'zoom to 120 residues or fewer for the letters',
        { 'text-anchor': 'end', 'font-size': 10, fill: '#666' });
      return;
    }
    const size = Math.min(12, (inner / span) * 1.4);
    for (let position = view.from; position <= view.to; position++) {
      const [residue, colour] = residueAt(position);
      text(svg, xOf(position), y + 36, residue, {
        'text-anchor': 'middle', 'font-family': 'monospace', 'font-size': size.toFixed(1),
        fill: colour || '#555', 'font-weight': colour ? 'bold' : 'normal',
      });
    }
  }

  // A class's colour by its place in the class set: hues a golden angle
  // apart, so that neighbours in the set differ most.
  function classColour(index) {
    return `hsl(${((index * 137.508) % 360).toFixed(1)}, 70%, 38%)`;
  }

  // Discovery's picture of one protein: a track for each class with a segment
  // at q <= data.threshold (and the selected segment's class), the segments of
  // that class along the sequence, filled when at or below the threshold.
  // data: { id, residues, segments (with .class), classes: Map name ->
  // { letters, colour } in the class set's order, threshold, selected };
  // view and onSegment as for protein().
  function classTracks(data, view, onSegment) {
    const width = 900;
    const left = 150;
    const right = 20;
    const inner = width - left - right;
    const span = view.to - view.from + 1;
    const xOf = (position) => left + ((position - view.from) / span) * inner;
    const significant = (segment) => segment.q_value <= data.threshold;
    const shown = new Set(data.segments.filter(significant).map((s) => s.class));
    if (data.selected) shown.add(data.selected.class);
    const tracks = [...data.classes.values()].filter((c) => shown.has(c.name));
    const top = 48;
    const trackHeight = 26;
    const axisY = top + Math.max(1, tracks.length) * trackHeight + 8;
    const height = axisY + (span <= 120 ? 46 : 40);
    const svg = el('svg', { xmlns: SVG, viewBox: `0 0 ${width} ${height}`, width: '100%', role: 'img' });
    el('title', {}, svg).textContent = `${data.id}: segments of ${tracks.map((c) => c.name).join(', ') || 'no class'}` +
      ` at q ≤ ${data.threshold}, positions ${view.from}–${view.to}`;
    el('rect', { x: 0, y: 0, width, height, fill: '#fff' }, svg);
    text(svg, 10, 18, `${data.id} (${data.residues.length} residues): ` +
      `${tracks.length === 1 ? '1 class' : `${tracks.length} classes`} with segments at q ≤ ${data.threshold}`,
    { 'font-weight': 'bold', 'font-size': 14 });
    text(svg, 10, 36, 'filled: q ≤ the threshold; outlined: reported, not significant', { 'font-size': 10, fill: '#666' });
    if (tracks.length === 0) {
      text(svg, left, top + 17, 'No class has a segment at this q threshold in this protein.', { fill: '#666' });
    }
    // Each letter's colour: that of the first track with a significant
    // segment over it and the letter among its class's.
    const cover = new Array(span).fill(null);
    tracks.forEach((c, i) => {
      const y = top + i * trackHeight;
      const track = el('g', { class: 'track', 'data-class': c.name }, svg);
      text(track, left - 8, y + 16, c.letters && c.letters !== c.name ? `${c.name} (${c.letters})` : c.name,
        { 'text-anchor': 'end', fill: c.colour, 'font-weight': 'bold' });
      el('line', { x1: left, x2: left + inner, y1: y + 11, y2: y + 11, stroke: '#ddd' }, track);
      for (const segment of data.segments) {
        if (segment.class !== c.name || segment.end < view.from || segment.start > view.to) continue;
        const strong = significant(segment);
        const x0 = Math.max(left, xOf(segment.start));
        const x1 = Math.min(left + inner, xOf(segment.end + 1));
        const selected = segment === data.selected;
        const bar = el('rect', {
          x: x0.toFixed(2), y: y + 2, width: Math.max(2, x1 - x0).toFixed(2), height: trackHeight - 8,
          fill: strong ? c.colour : '#fff', stroke: selected ? '#f0a020' : c.colour,
          'stroke-width': selected ? 3 : 1, tabindex: 0, class: 'segment',
          'data-class': c.name, 'data-start': segment.start, 'data-end': segment.end,
          'data-significant': strong, 'aria-label': describe(segment),
        }, track);
        el('title', {}, bar).textContent = describe(segment);
        listen(bar, segment, onSegment);
        if (!strong) continue;
        for (let p = Math.max(view.from, segment.start); p <= Math.min(view.to, segment.end); p++) {
          if (!c.letters || c.letters.includes(data.residues[p - 1])) cover[p - view.from] ||= c.colour;
        }
      }
    });
    axis(svg, { left, inner, y: axisY }, view, (position) => [data.residues[position - 1], cover[position - view.from]]);
    return svg;
  }

  function listen(bar, segment, onSegment) {
    bar.addEventListener('mouseenter', () => onSegment(segment, false));
    bar.addEventListener('focus', () => onSegment(segment, false));
    bar.addEventListener('click', () => onSegment(segment, true));
    bar.addEventListener('keydown', (event) => {
      if (event.key === 'Enter' || event.key === ' ') {
        event.preventDefault();
        onSegment(segment, true);
      }
    });
  }

  function describe(segment) {
    return `${segment.class ? `${segment.class} ` : ''}segment ${segment.segment}: ${segment.start}–${segment.end}, ${segment.seg_length} residues, ` +
      `${segment.special} special, p = ${segment.p_value.toPrecision(3)}, q = ${segment.q_value.toPrecision(3)}, ` +
      segment.residues;
  }

  // Tick counts on the histogram's log scale: 0, the powers of ten from 10 (1
  // too when no bar reaches 100), and the highest count when it stands clear.
  function countTicks(highest) {
    const ticks = [0];
    for (let power = highest < 100 ? 1 : 10; power <= highest; power *= 10) ticks.push(power);
    if (highest > 3 * ticks[ticks.length - 1]) ticks.push(highest);
    return ticks;
  }

  // How many segments fall in each -log10 bin of `values` (p- or q-values),
  // with a dashed line at the threshold.
  function histogram(values, symbol, threshold) {
    const width = 460;
    const height = 200;
    const left = 48;
    const top = 30;
    const bottom = 40;
    const bins = new Array(11).fill(0);
    for (const value of values) bins[Math.min(10, Math.floor(strength(value)))]++;
    const highest = Math.max(1, ...bins);
    const svg = el('svg', { xmlns: SVG, viewBox: `0 0 ${width} ${height}`, width: '100%', role: 'img' });
    el('title', {}, svg).textContent = `Segments by ${symbol}-value: ${values.length} segments`;
    el('rect', { x: 0, y: 0, width, height, fill: '#fff' }, svg);
    const barWidth = (width - left - 10) / bins.length;
    const plotHeight = height - bottom - top;
    const yOf = (count) => top + plotHeight - (Math.log1p(count) / Math.log1p(highest)) * plotHeight; // log scale: the tail stays visible
    for (const tick of countTicks(highest)) {
      el('line', { x1: left - 4, x2: width - 10, y1: yOf(tick), y2: yOf(tick), stroke: tick ? '#e3e7ec' : '#444' }, svg);
      text(svg, left - 7, yOf(tick) + 4, tick.toLocaleString('en-US'), { 'text-anchor': 'end', 'font-size': 10 });
    }
    bins.forEach((count, i) => {
      const x = left + i * barWidth;
      const bar = el('rect', { x: x + 1, y: yOf(count), width: barWidth - 2, height: top + plotHeight - yOf(count),
        fill: colour(10 ** -(i + 0.5)) }, svg);
      el('title', {}, bar).textContent = `${count} segments with −log10 ${symbol} ${i < 10 ? `in ${i}–${i + 1}` : '≥ 10'}`;
      if (count > 0) text(svg, x + barWidth / 2, yOf(count) - 3, count.toLocaleString('en-US'), { 'text-anchor': 'middle', 'font-size': 9, fill: '#444' });
      text(svg, x + barWidth / 2, height - bottom + 14, i < 10 ? String(i) : '≥10', { 'text-anchor': 'middle', 'font-size': 10 });
    });
    if (threshold > 0 && threshold < 1) {
      const x = left + Math.min(11, -Math.log10(threshold)) * barWidth;
      el('line', { x1: x, x2: x, y1: 4, y2: top + plotHeight, stroke: '#1f5f99', 'stroke-dasharray': '4 3' }, svg);
      text(svg, x + 4, 13, `${symbol} = ${threshold}: more significant to the right`, { 'font-size': 10, fill: '#1f5f99' });
    }
    text(svg, 12, top + plotHeight / 2, 'segments (log scale)', {
      'font-size': 10, 'text-anchor': 'middle', transform: `rotate(-90 12 ${top + plotHeight / 2})`,
    });
    text(svg, (left + width) / 2, height - 6, `−log10 ${symbol} of the reported segments`,
      { 'text-anchor': 'middle', 'font-size': 11 });
    return svg;
  }

  return { protein, classTracks, histogram, colour, classColour };
})();
