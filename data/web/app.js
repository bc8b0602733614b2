// The render service's page: every change renders a preview; the newest request wins (the older
// fetch is aborted, and an answer that arrives late is dropped all the same).
'use strict';

const $ = (id) => document.getElementById(id);
const previewLongSide = 800;  // previews need not be larger than the stage shows them
const pictures = new Map();   // slot key -> File
let templates = [];
let current = null;           // { controller, number }
let requestNumber = 0;
let timer = 0;

function mode() { return document.querySelector('input[name=mode]:checked').value; }

function shownSlots() {
  if (mode() === 'product') return ['front', 'side', 'top', 'wrap'];
  const t = templates.find((t) => String(t.number) === $('template').value);
  return t ? t.slots : [];
}

function renderSlots() {
  const box = $('slots');
  box.textContent = '';
  for (const slot of shownSlots()) {
    const zone = document.createElement('label');
    zone.className = 'slot';
    zone.dataset.slot = slot;
    const input = document.createElement('input');
    input.type = 'file';
    input.accept = 'image/*,.svg,.pdf,.tga,.heic,.avif';
    input.dataset.slot = slot;
    input.addEventListener('change', () => { if (input.files[0]) setPicture(slot, input.files[0]); });
    const caption = document.createElement('span');
    caption.textContent = slot;
    zone.append(input, caption);
    const file = pictures.get(slot);
    if (file) {
      const img = document.createElement('img');
      img.src = URL.createObjectURL(file);
      img.alt = slot;
      const clear = document.createElement('button');
      clear.type = 'button';
      clear.textContent = 'clear';
      clear.addEventListener('click', (e) => { e.preventDefault(); pictures.delete(slot); renderSlots(); schedule(); });
      zone.append(img, clear);
    } else {
      caption.textContent = slot + ': drop a picture';
    }
    zone.addEventListener('dragover', (e) => { e.preventDefault(); zone.classList.add('over'); });
    zone.addEventListener('dragleave', () => zone.classList.remove('over'));
    zone.addEventListener('drop', (e) => {
      e.preventDefault();
      zone.classList.remove('over');
      if (e.dataTransfer.files[0]) setPicture(slot, e.dataTransfer.files[0]);
    });
    box.append(zone);
  }
}

function setPicture(slot, file) {
  pictures.set(slot, file);
  renderSlots();
  schedule();
}

// The form of the current settings; Preview scales the canvas down to the preview's size.
function formData(format, preview) {
  const form = new FormData();
  if (mode() === 'product') {
    form.append('product', $('product').value);
    if ($('size').value.trim()) form.append('size', $('size').value.trim());
  } else {
    form.append('template', $('template').value);
  }
  let width = Number($('width').value) || 800, height = Number($('height').value) || 600;
  if (preview) {
    const scale = Math.min(1, previewLongSide / Math.max(width, height));
    width = Math.max(32, Math.round(width * scale));
    height = Math.max(32, Math.round(height * scale));
    form.append('png-effort', 'fast');
  }
  form.append('width', String(width));
  form.append('height', String(height));
  form.append('format', format);
  for (const input of document.querySelectorAll('#effects input[type=range]')) form.append(input.id, input.value);
  if ($('transparent').checked) form.append('transparent', '1');
  const shown = shownSlots();
  for (const [slot, file] of pictures) if (shown.includes(slot)) form.append(slot, file, file.name);
  return form;
}

async function errorText(response) {
  try {
    const body = await response.json();
    return body.field ? body.error + ' (' + body.field + ')' : body.error;
  } catch (e) {
    return 'The service answered ' + response.status;
  }
}

function status(text, bad) {
  $('status').textContent = text;
  $('status').className = bad ? 'bad' : '';
}

function schedule() {
  clearTimeout(timer);
  timer = setTimeout(renderPreview, 120);
}

async function renderPreview() {
  if (current) current.controller.abort();  // the newest request wins
  const mine = { controller: new AbortController(), number: ++requestNumber };
  current = mine;
  $('preview').classList.add('stale');
  status('Rendering…');
  try {
    const response = await fetch('render', { method: 'POST', body: formData('png', true), signal: mine.controller.signal });
    if (mine.number !== requestNumber) return;
    if (!response.ok) return status(await errorText(response), true);
    const blob = await response.blob();
    if (mine.number !== requestNumber) return;
    const old = $('preview').src;
    $('preview').src = URL.createObjectURL(blob);
    if (old.startsWith('blob:')) URL.revokeObjectURL(old);
    $('preview').classList.remove('stale');
    $('preview').dataset.rendered = String(mine.number);
    status('');
  } catch (e) {
    if (e.name !== 'AbortError') status('The service cannot be reached: ' + e.message, true);
  } finally {
    if (current === mine) current = null;
  }
}

async function download() {
  const format = $('format').value;
  status('Rendering the ' + format.toUpperCase() + ' picture…');
  try {
    const response = await fetch('render', { method: 'POST', body: formData(format, false) });
    if (!response.ok) return status(await errorText(response), true);
    const blob = await response.blob();
    const link = document.createElement('a');
    const name = mode() === 'product' ? $('product').value : 'boxshot';
    link.href = URL.createObjectURL(blob);
    link.download = name + '.' + (format === 'jpeg' ? 'jpg' : format === 'tiff' ? 'tif' : format);
    document.body.append(link);
    link.click();
    link.remove();
    setTimeout(() => URL.revokeObjectURL(link.href), 10000);
    status('Downloaded ' + link.download + ' (' + Math.round(blob.size / 1024) + ' KiB)');
  } catch (e) {
    status('The service cannot be reached: ' + e.message, true);
  }
}

function showSliderValues() {
  for (const input of document.querySelectorAll('#effects input[type=range]'))
    input.nextElementSibling.textContent = input.value;
}

async function start() {
  const [list, kinds] = await Promise.all([fetch('templates').then((r) => r.json()), fetch('products').then((r) => r.json())]);
  templates = list;
  for (const t of templates) $('template').add(new Option(t.name + (t.product ? ' (' + t.product + ')' : ''), t.number));
  for (const k of kinds) $('product').add(new Option(k.name + ' (' + k.width + ' x ' + k.height + (k.depth ? ' x ' + k.depth : '') + ' mm)', k.name));
  const update = () => { $('template-preview').src = 'templates/' + $('template').value + '/preview'; };
  update();
  $('template').addEventListener('change', () => { update(); renderSlots(); schedule(); });
  for (const radio of document.querySelectorAll('input[name=mode]')) {
    radio.addEventListener('change', () => {
      $('template-choice').hidden = mode() !== 'template';
      $('product-choice').hidden = mode() !== 'product';
      renderSlots();
      schedule();
    });
  }
  for (const id of ['product', 'size', 'width', 'height', 'transparent']) $(id).addEventListener('change', schedule);
  for (const input of document.querySelectorAll('#effects input[type=range]')) {
    input.addEventListener('input', () => { showSliderValues(); schedule(); });
  }
  $('download').addEventListener('click', download);
  showSliderValues();
  renderSlots();
  renderPreview();
}

start().catch((e) => status('Cannot load the templates: ' + e.message, true));
