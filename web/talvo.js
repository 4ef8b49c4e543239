// The page's JavaScript API: talvo-proteome's analysis in a Web Worker.
//
//   const result = await talvo.analyse(fastaText, ['-A:R', '--all', '--seed', '7']);
//   result.tsv, result.gff3, result.bed, result.summary, result.masked  // strings
//
// analyse(input, args, options)
//   input    FASTA text (a string), or its bytes (Blob, File, ArrayBuffer or
//            Uint8Array), plain or gzip-compressed; a Blob or File is read in
//            place, not copied
//   args     talvo-proteome's own options, one per array element; the page adds
//            the output options and the input itself
//   options  { name: the input's file name for the tables' input column
//                     (default: a File's name, else '-' as for standard input),
//              onProgress(fraction, entries, total): called while it runs, last
//                     with fraction 1,
//              signal: an AbortSignal that cancels the run,
//              files: { NAME: text or Blob } put beside the input, so that
//                     options can name them: ['--discover', '--classes', NAME] }
// Resolves to { tsv, gff3, bed, summary, masked, log, raw, alphabet, seed,
// classes },
// byte for byte what one run of talvo-proteome writes for the same input and
// options (raw holds as bytes any output that is not valid UTF-8, from a
// Latin-1 header say; log: the run's messages, such as skipped entries;
// alphabet: the special residues; seed: the seed of the random sequences, ''
// without them; classes: with --discover, the class set as --list-classes
// prints it); rejects with talvo-proteome's message on bad options or
// input. Requests run one after another; nothing leaves the browser. help()
// resolves to talvo-proteome's help text.
'use strict';

var talvo = (() => { // var: a property of window, for scripts of every kind
  let worker = null;
  let nextId = 1;
  let queue = Promise.resolve();

  function startWorker() {
    const url = URL.createObjectURL(new Blob([TALVO_WORKER_SOURCE], { type: 'text/javascript' }));
    worker = new Worker(url);
    URL.revokeObjectURL(url);
  }

  function stopWorker() {
    if (worker) worker.terminate();
    worker = null;
  }

  // A Blob goes to the worker by reference; text and bytes become one.
  function toBlob(input) {
    if (input instanceof Blob) return input;
    if (typeof input === 'string' || input instanceof ArrayBuffer || ArrayBuffer.isView(input)) {
      return new Blob([input]);
    }
    throw new TypeError('talvo.analyse: the input must be text, a Blob or bytes');
  }

  function cancelled() {
    return new DOMException('the analysis was cancelled', 'AbortError');
  }

  function run(input, args, options) {
    const signal = options.signal;
    if (signal && signal.aborted) return Promise.reject(cancelled());
    return new Promise((resolve, reject) => {
      const blob = toBlob(input);
      if (!worker) startWorker();
      const id = nextId++;
      const own = worker;
      const finish = () => {
        own.removeEventListener('message', listen);
        own.removeEventListener('error', failed);
        if (signal) signal.removeEventListener('abort', abort);
      };
      const listen = (event) => {
        const message = event.data;
        if (message.id !== id) return;
        if ('progress' in message) {
          if (options.onProgress) options.onProgress(message.progress, message.entries, message.total);
          return;
        }
        finish();
        if (message.fatal) stopWorker();
        if (message.error !== undefined) reject(new Error(message.error));
        else resolve(message.result);
      };
      const failed = (event) => {
        finish();
        stopWorker();
        reject(new Error('the analysis stopped: ' + (event.message || 'worker error')));
      };
      const abort = () => {
        finish();
        stopWorker();
        reject(cancelled());
      };
      own.addEventListener('message', listen);
      own.addEventListener('error', failed);
      if (signal) signal.addEventListener('abort', abort);
      const name = options.name || (typeof File !== 'undefined' && input instanceof File ? input.name : '-');
      own.postMessage({ id, input: blob, name, args: args.map(String), files: options.files || {} });
    });
  }

  function analyse(input, args = [], options = {}) {
    if (!Array.isArray(args)) return Promise.reject(new TypeError('talvo.analyse: args must be an array'));
    const result = queue.then(() => run(input, args, options));
    queue = result.catch(() => {});
    return result;
  }

  // talvo-proteome's help text: the options this build knows.
  function help() {
    return analyse('', ['--help']).then(() => '', (error) => error.message);
  }

  return { analyse, help };
})();
