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
