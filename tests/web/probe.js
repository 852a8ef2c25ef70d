// Prints the WebAssembly module's determinism probe under Node.js: node probe.js MODULE.js
"use strict";
const fs = require("fs");
const path = require("path");
const modulePath = path.resolve(process.argv[2]);
// Handed the bytes directly: Node's own fetch cannot read a file path, which the loader would try.
const wasmBinary = fs.readFileSync(modulePath.replace(/\.js$/, ".wasm"));
require(modulePath)({ wasmBinary }).then((module) => {
  process.stdout.write(module.UTF8ToString(module._web_probe()));
});
