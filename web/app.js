// The page's run: Analyse and Cancel, one progress bar for the whole run, the
// error box, and index.html#example=NAME. The form, the results and the plot
// are form.js, results.js, protein-view.js and plot.js.
'use strict';

(() => {
  const $ = (id) => document.getElementById(id);
  let running = null; // AbortController of the run in progress

  function setStatus(text) {
    $('status').textContent = text;
  }

  function showError(message) {
    $('error').hidden = !message;
    $('error').textContent = message || '';
    if (message) $('error').scrollIntoView({ block: 'center' });
  }

  function setProgress(fraction, text) {
    $('progress').value = fraction;
    setStatus(text);
  }

  async function analyse() {
    showError('');
    const what = pageForm.input();
    if (!what) {
      showError('Paste sequences, choose a file or pick an example first.');
      return;
    }
    if (running) running.abort();
    const controller = new AbortController();
    running = controller;
    $('cancel').disabled = false;
    $('analyse').disabled = true;
    $('progress').hidden = false;
    setProgress(0, 'Analysing…');
    const started = performance.now();
    try {
      const result = await talvo.analyse(what.input, pageForm.args(), {
        name: what.name, signal: controller.signal, files: pageForm.files(),
        onProgress: (fraction, entries, total) => setProgress(fraction,
          `Analysing… ${entries.toLocaleString('en-US')} of ${total.toLocaleString('en-US')} entries`),
      });
      setProgress(1, `Done in ${((performance.now() - started) / 1000).toFixed(2)} s.`);
      pageResults.show(result, what.name);
      $('results').scrollIntoView({ block: 'start' });
    } catch (error) {
      $('progress').hidden = true;
      setStatus(error.name === 'AbortError' ? 'Cancelled.' : 'Stopped.');
      if (error.name !== 'AbortError') showError(error.message);
    } finally {
      if (running === controller) running = null;
      $('cancel').disabled = true;
      $('analyse').disabled = false;
    }
  }

  $('form').addEventListener('submit', (event) => {
    event.preventDefault();
    analyse();
  });
  $('cancel').addEventListener('click', () => running && running.abort());

  // ---- index.html#example=NAME (or ?example=NAME), optionally &args=... ----

  async function openFromAddress() {
    const params = new URLSearchParams(location.hash.slice(1) || location.search.slice(1));
    const name = params.get('example');
    if (!name) return;
    try {
      await pageForm.loadExample(name);
      if (params.has('args')) pageForm.setForm(pageForm.splitWords(params.get('args')));
      await analyse();
    } catch (error) {
      showError(error.message);
    }
  }
  window.addEventListener('hashchange', openFromAddress);
  // Options that not every build has are offered when the tool knows them.
  talvo.help().then((text) => {
    $('exact-null-option').hidden = !text.includes('--exact-null');
    $('tool-help').textContent = text;
  }).finally(openFromAddress);
})();
