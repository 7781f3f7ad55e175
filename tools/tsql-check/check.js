// check.js STATEMENTS.json [SCRIPT.sql...]: checks each {name, sql} of the
// JSON list, and each statement of the scripts (ended by ";" at a line's
// end, comment lines dropped), against a Transact-SQL grammar. Prints every
// statement the grammar rejects and exits 1 when there is one; 2 when the
// parser itself is missing.
//
// Known limits of the grammar, worked around before parsing (the rest of the
// statement is still checked), both valid T-SQL:
//  - "EXEC @result = procedure ..." (a procedure's return value into a
//    variable) is read as "EXEC procedure ...";
//  - a named column constraint "CONSTRAINT name PRIMARY KEY" or
//    "CONSTRAINT name DEFAULT (0)" is read without its name (the grammar
//    takes names for CHECK constraints only).
'use strict';
const fs = require('fs');
const path = require('path');

let Parser;
try {
    ({ Parser } = require(path.join(__dirname, 'node_modules', 'node-sql-parser')));
} catch (e) {
    console.error('node-sql-parser is not installed in ' + __dirname + ': run scripts/install-deps');
    process.exit(2);
}

const parser = new Parser();
const statements = JSON.parse(fs.readFileSync(process.argv[2], 'utf8'));
for (const script of process.argv.slice(3)) {
    const text = fs.readFileSync(script, 'utf8').split('\n').filter((line) => !/^\s*--/.test(line)).join('\n');
    text.split(/;\s*\n/).map((sql) => sql.trim()).filter((sql) => sql !== '')
        .forEach((sql, i) => statements.push({ name: `${path.basename(script)} statement ${i + 1}`, sql }));
}
let rejected = 0;
for (const { name, sql } of statements) {
    const text = sql.replace(/\bEXEC\s+@\w+\s*=\s*/gi, 'EXEC ')
        .replace(/\bCONSTRAINT\s+\w+\s+(?=PRIMARY\s+KEY|DEFAULT)/gi, '');
    try {
        parser.astify(text, { database: 'transactsql' });
    } catch (e) {
        ++rejected;
        console.log(`REJECTED ${name}: ${e.message}\n  ${sql}\n`);
    }
}
console.log(`${statements.length - rejected} of ${statements.length} statements are valid Transact-SQL`);
process.exit(rejected === 0 ? 0 : 1);
