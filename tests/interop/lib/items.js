"use strict";
// The item namespace of one panel line, as the server publishes it: 2 line items, then per
// zone 7 zone items, 4 groups of 4 items and 16 detectors of 6 items (478 per line).
// Shared by the interop tests (what to expect) and the benchmark peer (what to serve).

const ITEMS_PER_LINE = 478;

const zoneItems = [
  ["State", "Byte", "Zone State"],
  ["StateStr", "String", "Zone State String"],
  ["StsPrgIng", "Byte", "Zone in Prog.Ingenier"],
  ["StsPrgUsr", "Byte", "Zone in Prog.User"],
  ["StsFailPower", "Byte", "Zone with power fail"],
  ["StsFailBat", "Byte", "Zone with battery fail"],
  ["StsFailGroup", "Byte", "Zone with group fail"],
];
const groupItems = [
  ["State", "Byte", "Group State"],
  ["StateStr", "String", "Group State String"],
  ["Gas", "Byte", "Group Gas"],
  ["GasStr", "String", "Group Gas String"],
];
const detectorItems = [
  ["Group", "Byte", "Group associated to Detector"],
  ["Value", "Float", "Detector value of mesure"],
  ["State", "Byte", "Detector State"],
  ["StateStr", "String", "Detector State String"],
  ["Gas", "Byte", "Detector Gas"],
  ["GasStr", "String", "Detector Gas String"],
];

const pad2 = (n) => String(n).padStart(2, "0");
const linePrefix = (line) => `C${pad2(line)}`;

// Initial values: every code 0, every text empty, every measure 0.0; the line starts in
// communication error (Error_Comm 1) until its first frame.
function initialValue(type) {
  return type === "String" ? "" : 0;
}

/** Items of panel line `line` (1-based), in creation order: {id, type, description, initial}. */
function lineItems(line) {
  const p = linePrefix(line);
  const out = [
    { id: `${p}.Error_Comm`, type: "Byte", description: `Communication Error with Panel. Connexion:${line}`, initial: 1 },
    { id: `${p}.NPanel`, type: "Byte", description: "Number of the Panel", initial: 0 },
  ];
  for (let z = 1; z <= 4; z++) {
    const zp = `${p}.Z${z}`;
    for (const [s, t, d] of zoneItems) out.push({ id: `${zp}.${s}`, type: t, description: d, initial: initialValue(t) });
    for (let g = 1; g <= 4; g++)
      for (const [s, t, d] of groupItems)
        out.push({ id: `${zp}.G${g}.${s}`, type: t, description: d, initial: initialValue(t) });
    for (let d = 1; d <= 16; d++)
      for (const [s, t, desc] of detectorItems)
        out.push({ id: `${zp}.D${pad2(d)}.${s}`, type: t, description: desc, initial: initialValue(t) });
  }
  return out;
}

/** Items of lines 1..lineCount. */
function allItems(lineCount) {
  const out = [];
  for (let l = 1; l <= lineCount; l++) out.push(...lineItems(l));
  return out;
}

/** Every folder (proper prefix of an item ID split at "."), parents before children. */
function folderIds(items) {
  const seen = new Set();
  const out = [];
  for (const it of items) {
    const parts = it.id.split(".");
    for (let i = 1; i < parts.length; i++) {
      const f = parts.slice(0, i).join(".");
      if (!seen.has(f)) {
        seen.add(f);
        out.push(f);
      }
    }
  }
  return out;
}

module.exports = { ITEMS_PER_LINE, lineItems, allItems, folderIds, linePrefix, pad2 };
