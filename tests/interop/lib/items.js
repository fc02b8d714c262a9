"use strict";
// The item namespace of one panel line, as the server publishes it: 2 line items, then per
// zone 7 zone items, 4 groups of 4 items and 16 detectors of 6 items (478 per line).
// Shared by the interop tests (what to expect) and the benchmark peer (what to serve).

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
const item = (id, [type, description], initial = type === "String" ? "" : 0) => ({ id, type, description, initial });

/** Items of panel line `line` (1-based), in creation order: {id, type, description, initial}; a
 * line is in communication error (Error_Comm 1) until its first frame, all else is 0 or empty. */
function lineItems(line) {
  const p = `C${pad2(line)}`;
  const out = [item(`${p}.Error_Comm`, ["Byte", `Communication Error with Panel. Connexion:${line}`], 1),
    item(`${p}.NPanel`, ["Byte", "Number of the Panel"])];
  for (let z = 1; z <= 4; z++) {
    const zp = `${p}.Z${z}`;
    for (const [s, ...rest] of zoneItems) out.push(item(`${zp}.${s}`, rest));
    for (let g = 1; g <= 4; g++) for (const [s, ...rest] of groupItems) out.push(item(`${zp}.G${g}.${s}`, rest));
    for (let d = 1; d <= 16; d++)
      for (const [s, ...rest] of detectorItems) out.push(item(`${zp}.D${pad2(d)}.${s}`, rest));
  }
  return out;
}

/** Items of lines 1..lineCount. */
const allItems = (lineCount) => Array.from({ length: lineCount }, (_, k) => lineItems(k + 1)).flat();

module.exports = { lineItems, allItems };
