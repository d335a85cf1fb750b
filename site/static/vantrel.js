// Script every page of the site shares: the helpers the page fragments call by name.

// Leading and trailing blanks (and tabs and line breaks) off.
function Trim(s) {
  return String(s == null ? "" : s).replace(/^\s+|\s+$/g, "");
}

// The layout editor's boxes: a row shows its boxes up to the first empty one, and a chosen field
// opens the next box of the row.
function FieldSelect(row, column) {
  var box = document.getElementById("r" + row + "f" + column);
  var next = document.getElementById("r" + row + "f" + (column + 1));
  if (box && next && box.value != "") next.style.display = "";
  return true;
}

// Forms that carry files. The site takes a request of at most the size the page shell names on
// this script's tag, and answers a larger one with a bare refusal that loses what was typed. So a
// form whose files would pass it is not sent at all: a sentence beside its file input names the
// limit, and the form stays as it is.
var UploadLimit = (function () {
  var script = document.currentScript;
  return script ? Number(script.getAttribute("data-max-body")) || 0 : 0;
})();

// The bytes the form would send, counted a little high: each value and file with the part's own
// lines around it (line breaks go as two bytes).
function FormBytes(form) {
  var bytes = 0, data = new FormData(form);
  data.forEach(function (value, name) {
    bytes += 200 + new Blob([name]).size;
    if (typeof value == "string") bytes += new Blob([value]).size + (value.match(/\n/g) || []).length;
    else bytes += value.size + new Blob([value.name]).size;
  });
  return bytes + 100;
}

function Mebibytes(bytes) {
  var m = bytes / 1048576;
  return (m == Math.floor(m) ? String(m) : m.toFixed(1)) + " MiB";
}

// True when the form may be sent; else the sentence stands beside its first file input.
function UploadFits(form) {
  var inputs = form.querySelectorAll("input[type=file]"), files = 0;
  for (var i = 0; i < inputs.length; i++) files += inputs[i].files ? inputs[i].files.length : 0;
  var shown = form.querySelector(".UploadTooLarge");
  var bytes = UploadLimit > 0 && files > 0 ? FormBytes(form) : 0;
  if (bytes <= UploadLimit) {
    if (shown) shown.parentNode.removeChild(shown);
    return true;
  }
  if (!shown) {
    shown = document.createElement("p");
    shown.className = "ErrorText UploadTooLarge";
    shown.id = "UploadTooLarge";
    inputs[0].parentNode.insertBefore(shown, inputs[0].nextSibling);
  }
  shown.textContent = "The files are too large to send: with the form they come to " + Mebibytes(bytes) +
    ", and the site takes at most " + Mebibytes(UploadLimit) + " at once. Nothing was sent; " +
    "remove a file or choose smaller ones.";
  shown.scrollIntoView({block: "nearest"});
  return false;
}

// Checked as files are chosen, as the form is sent by a button, and as a page's script sends it.
document.addEventListener("change", function (e) {
  if (e.target.type == "file" && e.target.form) UploadFits(e.target.form);
}, true);
document.addEventListener("submit", function (e) {
  if (!UploadFits(e.target)) e.preventDefault();
}, true);
(function () {
  var send = HTMLFormElement.prototype.submit;
  HTMLFormElement.prototype.submit = function () {
    if (UploadFits(this)) send.call(this);
  };
})();
