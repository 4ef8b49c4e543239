// The analysis worker. web/build.sh puts the WebAssembly module (TalvoModule)
// in front of this file. Every request runs talvo-proteome's own entry point
// on files in the module's memory, once for TSV (with the summary and the
// masked FASTA), once for GFF3 and once for BED, and sends the files back.
'use strict';

let stdinBytes = new Uint8Array(0);
let stdinAt = 0;
let onLine = () => {};

// Output arrives byte by byte, so progress lines ("\r" without a newline)
// are seen while the run goes on.
function lineCollector(stream) {
  let bytes = [];
  const collect = (byte) => {
    if (byte === 10 || byte === 13) {
      onLine(new TextDecoder().decode(new Uint8Array(bytes)), stream, byte === 13);
      bytes = [];
    } else {
      bytes.push(byte);
    }
  };
  collect.flush = () => bytes.length > 0 && collect(10);
  return collect;
}
const stdout = lineCollector('stdout');
const stderr = lineCollector('stderr');

const ready = TalvoModule({
  stdin: () => (stdinAt < stdinBytes.length ? stdinBytes[stdinAt++] : null),
  stdout,
  stderr,
});

// The stream is read directly: through a Response its error would only say
// "Failed to fetch".
async function gunzipIfNeeded(bytes, name) {
  if (bytes.length < 2 || bytes[0] !== 0x1f || bytes[1] !== 0x8b) return bytes;
  const reader = new Blob([bytes]).stream().pipeThrough(new DecompressionStream('gzip')).getReader();
  const chunks = [];
  try {
    for (let read = await reader.read(); !read.done; read = await reader.read()) chunks.push(read.value);
  } catch (error) {
    throw new Error(`${name}: ${gzipFault(error.message)}`);
  }
  return new Uint8Array(await new Blob(chunks).arrayBuffer());
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

function countEntries(bytes) {
  let count = bytes[0] === 62 ? 1 : 0;
  for (let i = bytes.indexOf(10); i >= 0; i = bytes.indexOf(10, i + 1)) {
    if (bytes[i + 1] === 62) count++;
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
  pointers.forEach((pointer, i) => module.HEAP32.set([pointer], array / 4 + i));
  module.HEAP32[array / 4 + argv.length] = 0;
  stdinAt = 0;
  try {
    return module._talvo_run(argv.length, array);
  } finally {
    pointers.forEach((pointer) => module._free(pointer));
    module._free(array);
  }
}

function readAndRemove(module, path) {
  try {
    const bytes = module.FS.readFile(path);
    module.FS.unlink(path);
    return bytes;
  } catch (error) {
    return null;
  }
}

async function analyse(request) {
  const module = await ready;
  const name = request.name || '-';
  const bytes = await gunzipIfNeeded(new Uint8Array(request.data), name);
  const total = countEntries(bytes);
  if (name.includes('/') || name === '.' || name === '..') throw new Error(`not a file name: ${name}`);
  const path = name === '-' ? null : '/in/' + name;
  const fs = module.FS;
  for (const dir of ['/in', '/out']) if (!fs.analyzePath(dir).exists) fs.mkdir(dir);
  fs.chdir('/in');
  if (path) fs.writeFile(path, bytes);
  stdinBytes = name === '-' ? bytes : new Uint8Array(0);

  const runs = [
    ['--format', 'tsv', '--output', '/out/tsv', '--summary', '/out/summary', '--masked', '/out/masked'],
    ['--format', 'gff3', '--output', '/out/gff3'],
    ['--format', 'bed', '--output', '/out/bed'],
  ];
  let messages = [];
  let seed = [];
  try {
    for (let run = 0; run < runs.length; run++) {
      const lines = [];
      onLine = (line, stream, carriage) => {
        const progress = /^(\d+) entries, \d+ residues/.exec(line);
        if (progress && stream === 'stderr') {
          const done = Math.min(1, total > 0 ? Number(progress[1]) / total : 1);
          postMessage({ id: request.id, progress: (run + done) / runs.length, entries: Number(progress[1]), total });
        } else if (!carriage && line !== '') {
          lines.push(line);
        }
      };
      // With random sequences and no --seed, the seed the first run took from
      // the clock makes the other two runs give the same p-values.
      const args = [...request.args, '--progress', ...seed, ...runs[run], '--', name];
      const status = runTool(module, args);
      stdout.flush();
      stderr.flush();
      if (status !== 0) throw new Error(lines.join('\n') || 'talvo-proteome ended with status ' + status);
      if (run === 0) {
        // --help and --version write text, not tables.
        if (!fs.analyzePath('/out/tsv').exists) throw new Error(lines.join('\n') || 'talvo-proteome wrote no table');
        messages = lines;
        const clockSeed = lines.map((line) => /^talvo-proteome: --seed (\d+)$/.exec(line)).find(Boolean);
        if (clockSeed) seed = ['--seed', clockSeed[1]];
      }
    }
    // Outputs that are not UTF-8 (from Latin-1 headers, say) also come as
    // bytes, so that downloads keep every byte.
    const result = { raw: {} };
    for (const file of ['tsv', 'gff3', 'bed', 'summary', 'masked']) {
      const bytes = readAndRemove(module, '/out/' + file);
      try {
        result[file] = new TextDecoder('utf-8', { fatal: true }).decode(bytes);
      } catch (error) {
        result[file] = new TextDecoder().decode(bytes);
        result.raw[file] = bytes;
      }
    }
    result.log = messages.join('\n');
    result.text = request.wantText ? new TextDecoder().decode(bytes) : undefined;
    return result;
  } finally {
    if (path) fs.unlink(path);
    for (const file of ['tsv', 'gff3', 'bed', 'summary', 'masked']) readAndRemove(module, '/out/' + file);
    stdinBytes = new Uint8Array(0);
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
