// Shows the preferences below the branch named by "?path=" (all of them without it): one row per
// key with its value, which can be changed or reverted to its default through the control routes.
(function () {
  var branch = new URLSearchParams(location.search).get('path') || '';
  var table = document.getElementById('keys');
  var status = document.getElementById('status');

  function fullKey(el) {
    var parts = [];
    for (var n = el; n && n.tagName === 'node'; n = n.parentElement) parts.unshift(n.getAttribute('key'));
    return parts.join('.');
  }

  function childText(el, name) {
    for (var c = el.firstElementChild; c; c = c.nextElementSibling)
      if (c.tagName === name) return c.textContent;
    return '';
  }

  // A boolean's text as the program reads it: true/enabled, false/disabled, else a number.
  function isOn(text) {
    var v = text.trim().toLowerCase();
    if (v === 'true' || v === 'enabled') return true;
    if (v === 'false' || v === 'disabled' || v === '') return false;
    return Number(v) !== 0 && !isNaN(Number(v));
  }

  function send(url, done) {
    fetch(url).then(function (r) { return r.text(); }).then(done, function () { status.textContent = 'The program does not answer.'; });
  }

  function addRow(el) {
    var key = fullKey(el);
    var tr = document.createElement('tr');
    tr.id = 'row:' + key;
    var label = document.createElement('td');
    label.textContent = el.getAttribute('text') || key;
    label.title = childText(el, 'desc');
    var cell = document.createElement('td');
    var options = el.getElementsByTagName('enum');
    var input;
    if (options.length) {
      input = document.createElement('select');
      for (var i = 0; i < options.length; i++) {
        var o = document.createElement('option');
        o.value = options[i].textContent;
        o.textContent = options[i].textContent;
        input.appendChild(o);
      }
    } else {
      input = document.createElement('input');
      if (el.getAttribute('type') === 'bool') input.type = 'checkbox';
    }
    input.name = key;
    var value = childText(el, 'value');
    if (input.type === 'checkbox') input.checked = isOn(value);
    else input.value = value;
    cell.appendChild(input);
    var set = document.createElement('button');
    set.textContent = 'Set';
    set.name = 'set:' + key;
    set.onclick = function () {
      var text = input.type === 'checkbox' ? (input.checked ? 'true' : 'false') : input.value;
      send('/prefs/set?' + encodeURIComponent(key) + '=' + encodeURIComponent(text), function (n) {
        status.textContent = n.trim() === '1' ? key + ' set.' : key + ' was not set.';
      });
    };
    var revert = document.createElement('button');
    revert.textContent = 'Default';
    revert.onclick = function () {
      send('/prefs/revert?path=' + encodeURIComponent(key), function (v) {
        if (input.type === 'checkbox') input.checked = isOn(v);
        else input.value = v.trim();
        status.textContent = key + ' reverted.';
      });
    };
    tr.appendChild(label);
    tr.appendChild(cell);
    var buttons = document.createElement('td');
    buttons.appendChild(set);
    buttons.appendChild(revert);
    tr.appendChild(buttons);
    table.appendChild(tr);
  }

  if (branch) document.getElementById('title').textContent = 'Preferences: ' + branch;
  var query = '/prefs/prefs.xml?type&text&enum&value&desc' + (branch ? '&path=' + encodeURIComponent(branch) : '');
  fetch(query).then(function (r) { return r.text(); }).then(function (text) {
    var doc = new DOMParser().parseFromString(text, 'text/xml');
    var nodes = doc.getElementsByTagName('node');
    for (var i = 0; i < nodes.length; i++) {
      var t = nodes[i].getAttribute('type');
      if (t && t !== 'node' && t !== 'root') addRow(nodes[i]);
    }
    status.textContent = nodes.length ? '' : 'No such preferences.';
    document.body.setAttribute('data-ready', '1');
  }, function () { status.textContent = 'The program does not answer.'; });
})();
