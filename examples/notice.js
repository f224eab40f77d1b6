// A Node.js script that shows a notice with notice.exe and ends with its
// status once the box is dismissed. Keep notice.exe beside this script.
'use strict';
const { spawn } = require('child_process');
const path = require('path');

const exe = path.join(__dirname, 'notice.exe');
// The tail, exactly as notice.exe reads it. String.raw keeps each backslash
// as written, so \n, \, and \\ reach notice.exe (in a plain string literal
// write \\n, \\, and \\\\):
//   \n   notice.exe makes the line break
//   \\   one backslash in the box
//   \,   a comma in the text; the first bare comma starts the caption
const tail = String.raw`Setup needs 20 MB more\, free it on C:\\Temp.\nSee setup.log,Notice Example Node.js`;

const notice = spawn(exe, [tail], {
  // The command line as it stands: no quotes around the tail, which would
  // show in the box...
  windowsVerbatimArguments: true,
  // ...and so none around the program name either, unless given here: a
  // blank in its path (C:\Program Files\...) would cut the name short and
  // put the rest of the path into the box.
  argv0: `"${exe}"`,
  stdio: 'ignore',
});
notice.on('error', (error) => {
  console.error(`notice.exe could not be started: ${error.message}`);
  process.exitCode = 1;
});
// spawn does not block: the script ends only once notice.exe has.
notice.on('exit', (status) => {
  process.exitCode = status === null ? 1 : status;
});
