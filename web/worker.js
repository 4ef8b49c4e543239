// The analysis worker. web/build.sh puts the WebAssembly module (TalvoModule)
// in front of this file. Every request runs talvo-proteome's own entry point
// once, on the input mounted as it is (a Blob, not a copy in the module's
// memory), writing every output into the module's memory, and sends the files
// back. The run reports its settings and progress through two functions of
// the module (web/talvo_wasm.cpp).
'use strict';

const OUTPUTS = ['tsv', 'gff3', 'bed', 'summary', 'masked'];
let messages = [];

const ready = TalvoModule({
  stdin: () => null,
  print: (line) => messages.push(line),
  printErr: (line) => messages.push(line),
}).then((module) => {
  growByDoubling(module.FS.lookupPath('/').node.mount.type);
  return module;
});

// The in-memory file system grows a file past 1 MB by an eighth at a time,
// copying it whole each time; the outputs of a proteome are tens of MB.
function growByDoubling(memfs) {
  const grow = memfs.expandFileStorage;
  memfs.expandFileStorage = function (node, capacity) {
    const previous = node.contents ? node.contents.length : 0;
    if (capacity > previous) grow.call(this, node, Math.max(capacity, 2 * previous));
  };
}

// The stream is read directly: through a Response its error would only say
// "Failed to fetch". The result is a Blob of the decompressed chunks.
async function gunzipIfNeeded(blob, name) {
  const head = new Uint8Array(await blob.slice(0, 2).arrayBuffer());
  if (head.length < 2 || head[0] !== 0x1f || head[1] !== 0x8b) return blob;
  const reader = blob.stream().pipeThrough(new DecompressionStream('gzip')).getReader();
  const chunks = [];
  try {
    for (let read = await reader.read(); !read.done; read = await reader.read()) chunks.push(read.value);
  } catch (error) {
    throw new Error(`${name}: ${gzipFault(error.message)}`);
  }
  return new Blob(chunks);
}

// The browser's reason, in talvo-proteome's words where they exist.
function gzipFault(message) {
  if (/truncated/i.test(message)) return 'truncated gzip data: the file ends inside its compressed data';
  if (/junk/i.test(message)) {
    return 'data after the end of the first gzip member (this page reads single-member gzip; ' +
      'talvo-proteome reads the rest)';
  }
  return `corrupt gzip data (${message})`;
}

// Entries ('>' at the start of a line), for the progress bar's whole.
async function countEntries(blob) {
  let count = 0;
  let previous = 10;
  const reader = blob.stream().getReader();
  for (let read = await reader.read(); !read.done; read = await reader.read()) {
    const bytes = read.value;
    if (bytes.length === 0) continue;
    for (let i = bytes.indexOf(62); i >= 0; i = bytes.indexOf(62, i + 1)) {
      if ((i === 0 ? previous : bytes[i - 1]) === 10) count++;
    }
    previous = bytes[bytes.length - 1];
  }
  return count;
}

// One call of talvo-proteome; returns its exit status.
function runTool(module, args) {
  const argv = ['talvo-proteome', ...args];
  const pointers = argv.map((arg) => {
    const size = module.lengthBytesUTF8(arg) + 1;
    const pointer = module._malloc(size);
    module.stringToUTF8(arg, pointer, size);
    return pointer;
  });
  const array = module._malloc(4 * (argv.length + 1));
  pointers.forEach((pointer, i) => { module.HEAP32[array / 4 + i] = pointer; });
  module.HEAP32[array / 4 + argv.length] = 0;
  try {
    return module._talvo_run(argv.length, array);
  } finally {
    pointers.forEach((pointer) => module._free(pointer));
    module._free(array);
  }
}

// Every output of one run; they come after the caller's options, so they win.
const OUTPUT_OPTIONS = ['--no-progress', '--format', 'tsv', '--output', '/out/tsv', '--summary', '/out/summary',
  '--masked', '/out/masked', '--gff3', '/out/gff3', '--bed', '/out/bed'];

function readAndRemove(fs, path) {
  if (!fs.analyzePath(path).exists) return null;
  const bytes = fs.readFile(path);
  fs.unlink(path);
  return bytes;
}

function checkFileName(name) {
  if (name.includes('/') || name === '.' || name === '..' || name === '') throw new Error(`not a file name: ${name}`);
}

// The input as the file /in/NAME, read in place from its Blob, with the
// request's other files (a class set, say) beside it; for '-' the input also
// becomes standard input (the tool's dup(0) reopens fd 0 by its path).
function mountInput(module, blob, name, files) {
  const fs = module.FS;
  for (const dir of ['/in', '/out']) if (!fs.analyzePath(dir).exists) fs.mkdir(dir);
  const file = name === '-' ? 'standard-input' : name;
  const blobs = [{ name: file, data: blob }];
  for (const [other, content] of Object.entries(files || {})) {
    checkFileName(other);
    if (other === file) throw new Error(`two files named ${other}`);
    blobs.push({ name: other, data: content instanceof Blob ? content : new Blob([content]) });
  }
  fs.mount(module.WORKERFS, { blobs }, '/in');
  fs.chdir('/in');
  const stdin = fs.streams[0];
  if (name === '-') {
    const stream = fs.open('/in/' + file, 'r');
    fs.streams[stream.fd] = null;
    fs.streams[0] = stream;
  }
  return () => {
    fs.streams[0] = stdin;
    fs.chdir('/');
    fs.unmount('/in');
  };
}

// Outputs that are not UTF-8 (from Latin-1 headers, say) also come as bytes,
// so that downloads keep every byte.
function collectOutputs(fs, result) {
  for (const file of OUTPUTS) {
    const bytes = readAndRemove(fs, '/out/' + file);
    try {
      result[file] = new TextDecoder('utf-8', { fatal: true }).decode(bytes);
    } catch (error) {
      result[file] = new TextDecoder().decode(bytes);
      result.raw[file] = bytes;
    }
  }
  return result;
}

// Discovery's class set as --list-classes prints it (name, letters, P,
// linkage), which the page names and colours the classes by; '' when the
// options are wrong, which the run itself then reports.
function listClasses(module, args) {
  messages = [];
  const status = runTool(module, [...args, '--list-classes']);
  const table = messages.filter((line) => line.includes('\t'));
  return status === 0 && table.length > 0 ? table.join('\n') + '\n' : '';
}

async function analyse(request) {
  const module = await ready;
  const name = request.name || '-';
  checkFileName(name);
  const input = await gunzipIfNeeded(request.input, name);
  const total = await countEntries(input);
  const result = { raw: {}, alphabet: '', seed: '', classes: '' };
  module.onSettings = (alphabet, seed) => Object.assign(result, { alphabet, seed });
  let entries = 0;
  module.onProgress = (done) => {
    entries = done;
    postMessage({ id: request.id, progress: Math.min(1, total > 0 ? done / total : 1), entries, total: Math.max(total, done) });
  };
  const unmount = mountInput(module, input, name, request.files);
  try {
    if (request.args.includes('--discover')) result.classes = listClasses(module, request.args);
    messages = [];
    const status = runTool(module, [...request.args, ...OUTPUT_OPTIONS, '--', name]);
    if (status !== 0) throw new Error(messages.join('\n') || 'talvo-proteome ended with status ' + status);
    // --help and --version write text, not tables.
    if (!module.FS.analyzePath('/out/tsv').exists) throw new Error(messages.join('\n') || 'talvo-proteome wrote no table');
    result.log = messages.join('\n');
    postMessage({ id: request.id, progress: 1, entries, total: entries });
    return collectOutputs(module.FS, result);
  } finally {
    module.onProgress = null;
    module.onSettings = null;
    unmount();
    for (const file of OUTPUTS) readAndRemove(module.FS, '/out/' + file);
  }
}

onmessage = async (event) => {
  const request = event.data;
  try {
    postMessage({ id: request.id, result: await analyse(request) });
  } catch (error) {
    // An abort inside the module leaves it unusable: the page starts a new worker.
    const fatal = !(error instanceof Error) || error instanceof WebAssembly.RuntimeError;
    postMessage({ id: request.id, error: String(error.message || error), fatal });
  }
};
