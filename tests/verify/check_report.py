"""Checks a brix_verify JSON report against the schema in its manual page
(each field documented as a line "\\fBpath\\fR (types)") and against the text
report of the same run. Usage: check_report.py MANUAL JSON TEXT; exit 0 when
both agree, else 1 with the first disagreement."""
import json
import re
import sys

TYPES = {'number': (int, float), 'string': str, 'array': list, 'object': dict,
         'boolean': bool, 'null': type(None)}


def fail(why):
    print(why)
    sys.exit(1)


def check_schema(schema, doc):
    def walk(value, path):
        if path not in schema:
            fail('undocumented field ' + path)
        if isinstance(value, bool) and 'boolean' not in schema[path]:
            fail(path + ' is a boolean')
        if not any(isinstance(value, TYPES[t]) for t in schema[path]):
            fail('%s is %r, not %s' % (path, value, '/'.join(sorted(schema[path]))))
        if isinstance(value, dict) and path != 'headers':
            for key, item in value.items():
                walk(item, path + '.' + key)
        if isinstance(value, dict) and path == 'headers':
            if not all(isinstance(n, int) for n in value.values()):
                fail('a header count is not a number')
        if isinstance(value, list):
            for item in value:
                walk(item, path + '[]')
    for path in schema:
        if '.' not in path and '[' not in path and path not in doc:
            fail('missing field ' + path)
    for key, value in doc.items():
        walk(value, key)


def check_text(doc, text):
    lines = text.splitlines()
    expect = [
        'files: %d, %d bytes stored' % (len(doc['files']), doc['stored_bytes']),
        'stream: %d blocks, %d bytes' % (doc['blocks'], doc['stream_bytes']),
    ]
    if doc['headers']:
        expect.append('headers: ' + ', '.join('%s %d' % h for h in doc['headers'].items()))
    points = doc['sync_points']
    if points['count']:
        expect.append('sync points: first %d, last %d, %d in all' %
                      (points['first'], points['last'], points['count']))
    if doc['blocks']:
        expect.append('source: %s:%s' % (doc['source']['machine'], doc['source']['path']))
    expect += ['fault: ' + f['sentence'] for f in doc['faults']]
    expect += ['warning: ' + f['sentence'] for f in doc['warnings']]
    for f in doc['files']:
        expect.append('file %s: %s, %d bytes, %d blocks' %
                      (f['name'], f['kind'], f['stored_bytes'], f['blocks']))
    for line in expect:
        if line not in lines:
            fail('not in the text: ' + line)
    whole = any(line.startswith('result: the set is whole') for line in lines)
    if whole != (doc['exit_status'] == 0) or doc['result'] != ['whole', 'faulty', 'unreadable'][doc['exit_status']]:
        fail('the result differs')


def main():
    manual, report, text = sys.argv[1:4]
    schema = {m.group(1): set(m.group(2).split(', ')) for m in re.finditer(
        r'^\\fB([a-z_.\[\]]+)\\fR \(([a-z, ]+)\)$', open(manual).read(), re.M)}
    if len(schema) < 20:
        fail('no schema found in ' + manual)
    doc = json.load(open(report))
    check_schema(schema, doc)
    check_text(doc, open(text).read())


main()
