// The form: the input (text box, file, examples) and talvo-proteome's options.
'use strict';

var pageForm = (() => { // var: a global that the other scripts of the page use
  const $ = (id) => document.getElementById(id);
  const EXAMPLE_ARGS = { '7LESS_DROME': ['-A:R'], two_proteins: ['-A:R'] };

  let source = null; // { blob, name } of a chosen file or example; null: the text box

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
    showCommand();
  }

  async function loadExample(name) {
    const example = TALVO_EXAMPLES.find((e) => exampleName(e.file) === name);
    if (!example) throw new Error(`no bundled example named ${name}`);
    const blob = exampleBlob(example);
    $('sequences').value = example.file.endsWith('.gz') ? '' : await blob.text();
    useFile(blob, example.file, `${example.file} (bundled example)`);
    setForm((EXAMPLE_ARGS[name] || []).concat(fields.discover.checked ? ['--discover'] : []));
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

  // What to analyse: { input: Blob or text, name }, or null when there is
  // nothing. The text box takes FASTA as it is; a bare sequence gets a header.
  function input() {
    if (source) return { input: source.blob, name: source.name };
    const text = $('sequences').value;
    if (text.trim() === '') return null;
    return { input: /^\s*>/.test(text) || /\n>/.test(text) ? text : `>sequence\n${text}\n`, name: '-' };
  }

  // ---- talvo-proteome's options ----

  const fields = {
    alphabet: $('alphabet'), background: $('background'), window: $('window'), linkage: $('linkage'),
    estimate: $('estimate-linkage'), nullModel: $('null'), count: $('random-count'), seed: $('seed'),
    fractional: $('fractional'), exactNull: $('exact-null'), significance: $('significance'), all: $('all'),
    threshold: $('window-threshold'), noMerge: $('no-merge'), mask: $('mask'), extra: $('extra'),
    discover: $('discover'),
  };
  const defaults = {};
  for (const [key, field] of Object.entries(fields)) defaults[key] = field.type === 'checkbox' ? field.checked : field.value;

  function splitWords(text) {
    return text.trim() === '' ? [] : text.trim().split(/\s+/);
  }

  // A pasted class list in the tool's format: a tab between name and letters,
  // where a person types spaces.
  function classFile() {
    const text = $('classes').value;
    if (!fields.discover.checked || text.trim() === '') return null;
    return text.split('\n').map((line) => (line.includes('\t') ? line : line.trim().replace(/^([^\s#]\S*)\s+/, '$1\t')))
      .join('\n');
  }

  // Files that the options name.
  function files() {
    const classes = classFile();
    return classes === null ? {} : { 'classes.tsv': classes };
  }

  function args() {
    const f = fields;
    const discover = f.discover.checked;
    const list = discover ? ['--discover'] : [];
    if (classFile() !== null) list.push('--classes', 'classes.tsv');
    if (!discover && f.alphabet.value !== defaults.alphabet) list.push(`-A:${f.alphabet.value}`);
    if (f.background.value !== '-T') list.push(f.background.value);
    if (Number(f.window.value) >= 2) list.push(`-W:${f.window.value}`);
    if (f.estimate.checked) list.push('-K');
    // Discovery gives each class its own linkage unless one is given for all.
    else if (f.linkage.value !== '' && (discover || f.linkage.value !== defaults.linkage)) list.push(`-E:${f.linkage.value}`);
    if (f.nullModel.value) list.push(`${f.nullModel.value}:${f.count.value}`);
    if (f.seed.value !== '') list.push('--seed', f.seed.value);
    if (f.fractional.checked) list.push('--fractional-windows');
    if (f.exactNull.checked) list.push('--exact-null');
    if (f.significance.value !== defaults.significance) list.push(`-M:${f.significance.value}`);
    if (f.all.checked) list.push('--all');
    if (f.threshold.value !== defaults.threshold) list.push(`-P:${f.threshold.value}`);
    if (f.noMerge.checked) list.push('-N');
    if (f.mask.value) list.push(f.mask.value);
    return list.concat(splitWords(f.extra.value));
  }

  // Discovery has no special residues to choose, and no linkage until one is
  // given for every class.
  function showMode() {
    const discover = fields.discover.checked;
    fields.alphabet.disabled = discover;
    $('classes-option').hidden = !discover;
    fields.linkage.placeholder = discover ? "each class's own" : '';
    if (discover && fields.linkage.value === defaults.linkage) fields.linkage.value = '';
    if (!discover && fields.linkage.value === '') fields.linkage.value = defaults.linkage;
  }
  fields.discover.addEventListener('change', showMode);
  $('classes-file').addEventListener('change', async () => {
    const file = $('classes-file').files[0];
    if (file) $('classes').value = await file.text();
    showCommand();
  });

  // The form from options; what it has no field for goes to "More options".
  function setForm(list) {
    const f = fields;
    for (const [key, field] of Object.entries(fields)) {
      if (field.type === 'checkbox') field.checked = defaults[key];
      else field.value = defaults[key];
    }
    f.discover.checked = list.includes('--discover');
    showMode();
    const extra = [];
    for (let i = 0; i < list.length; i++) {
      const arg = list[i];
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
      else if (arg === '--discover') continue;
      else if (arg === '--fractional-windows') f.fractional.checked = true;
      else if (arg === '--exact-null' && !$('exact-null-option').hidden) f.exactNull.checked = true;
      else if (arg === '--seed' && i + 1 < list.length) f.seed.value = list[++i];
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
    const file = source ? source.name : '- < pasted.fa';
    $('command').textContent = ['talvo-proteome', ...args().map(quote), '--summary', 'summary.tsv',
      '--masked', 'masked.fa', file].join(' ');
  }
  $('form').addEventListener('input', showCommand);
  $('form').addEventListener('change', showCommand);
  showCommand();

  return { input, args, files, setForm, splitWords, loadExample };
})();
