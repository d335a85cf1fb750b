// Script every page of the site shares: the helpers the page fragments call by name.

// Leading and trailing blanks (and tabs and line breaks) off.
function Trim(s) {
  return String(s == null ? "" : s).replace(/^\s+|\s+$/g, "");
}
