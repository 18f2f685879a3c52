#!/usr/bin/env python3
"""Checks a gateway soak's record (soak.sh): what the simulators held, what the plant saw.

Each simulator's trace names every value its items took ("-- holds L01S 501.2"), in order.
Values never repeat: the sets carry unique values, and the start values are used by no set.
So a reading is right when its value is one its item held, and not older than a value of
the same item published before it; a result is right when the instrument took the value
exactly when the result says it was written (or may have been); and a command is applied at
most once, and never when it was retained or published while the gateway was stopped.
"""
import json
import re
import sys
from pathlib import Path

HOLDS = re.compile(r'^\s*[\d.]+ -- holds (\S+) (.+)$')


def held_values(trace):
    """Per item (L01S), the values it took, in order."""
    held = {}
    for line in trace.read_text(errors='replace').splitlines():
        match = HOLDS.match(line)
        if match:
            held.setdefault(match.group(1), []).append(match.group(2))
    return held


def same(a, b):
    try:
        return abs(float(a) - float(b)) <= 1e-9 * max(1.0, abs(float(b)))
    except ValueError:
        return a == b


def index_of(values, value):
    for i, held in enumerate(values):
        if same(held, value):
            return i
    return None


def main():
    work = Path(sys.argv[1])
    count = int(sys.argv[2])
    held = {i: held_values(work / f'i{i}.trace') for i in range(1, count + 1)}
    problems = []
    figures = {'right': 0, 'errors': 0, 'wrong': 0, 'stale': 0}
    readings = []
    results = []
    for line in (work / 'messages.txt').read_text(errors='replace').splitlines():
        parts = line.split('|', 3)
        if len(parts) != 4:
            continue
        received, retained, topic, payload = parts
        levels = topic.split('/')
        if len(levels) < 3 or not levels[1].startswith('i') or retained == '1':
            continue
        try:
            message = json.loads(payload)
        except ValueError:
            continue
        instrument = int(levels[1][1:])
        if len(levels) == 3 and levels[2] not in ('alerts', 'status', 'metrics'):
            readings.append((message.get('time', ''), float(received), instrument, message))
        elif len(levels) == 4 and levels[3] == 'result':
            results.append((instrument, message))

    # Readings, in the order of their time stamps per item.
    newest = {}
    for stamp, _, instrument, message in sorted(readings, key=lambda r: (r[0], r[1])):
        if 'error' in message:
            figures['errors'] += 1
            continue
        item = message['item'][:4]
        value = message.get('text', message.get('value'))
        values = held[instrument].get(item, [])
        at = index_of(values, value)
        key = (instrument, item)
        if at is None:
            figures['wrong'] += 1
            problems.append(f'i{instrument} {message["item"]} published {value} at {stamp}, '
                            f'a value it never held ({values[-3:]} ...)')
        elif at < newest.get(key, -1):
            figures['stale'] += 1
            problems.append(f'i{instrument} {message["item"]} published {value} at {stamp} '
                            f'after the newer {values[newest[key]]}')
        else:
            figures['right'] += 1
            newest[key] = at

    # Commands and what became of them.
    commands = {}
    for line in (work / 'commands.txt').read_text().splitlines():
        fields = line.split()
        if len(fields) == 5:
            commands[fields[0]] = {'instrument': int(fields[1]), 'item': fields[2][:4],
                                   'value': fields[3], 'kind': fields[4]}
        elif len(fields) == 2 and fields[0] in commands:
            commands[fields[0]]['kind'] = 'lost'
    taken = {}
    for command in commands.values():
        values = held[command['instrument']].get(command['item'], [])
        taken_count = sum(1 for value in values if same(value, command['value']))
        taken[id(command)] = taken_count
        if taken_count > 1:
            problems.append(f'{command} was applied {taken_count} times')
        if taken_count and command['kind'] in ('retained', 'down'):
            problems.append(f'{command} was applied, though it was {command["kind"]}')
    outcomes = {}
    seen_ids = set()
    for instrument, message in results:
        outcome = message.get('outcome')
        outcomes[outcome] = outcomes.get(outcome, 0) + 1
        command_id = message.get('id')
        command = commands.get(command_id) if command_id else None
        if command is None:
            command = next((c for c in commands.values()
                            if c['instrument'] == instrument and c['kind'] == 'retained'
                            and same(c['value'], message.get('request'))), None)
        if command is None:
            problems.append(f'a result for no command: {message}')
            continue
        if command_id:
            if command_id in seen_ids:
                problems.append(f'two results for the id {command_id}')
            seen_ids.add(command_id)
        applied = taken[id(command)]
        if outcome == 'written' and not applied:
            problems.append(f'{command} is "written", but the instrument never took it')
        if outcome == 'inexact' and applied:
            # Every set value is one the instrument holds exactly: a read-back that shows
            # another value was a reply from before the write.
            problems.append(f'{command} is "inexact", but the instrument took it exactly')
        if outcome in ('refused', 'rejected', 'ignored') and applied:
            problems.append(f'{command} is "{outcome}", but the instrument took it')
        if command['kind'] == 'retained' and outcome != 'ignored':
            problems.append(f'the retained {command} got "{outcome}"')

    # Resident memory of the last gateway process after its first minute.
    samples = [line.split() for line in (work / 'rss.txt').read_text().splitlines()]
    last_pid = samples[-1][1] if samples else None
    series = [(int(t), int(kb)) for t, pid, kb in samples if pid == last_pid]
    memory = ''
    if series and series[-1][0] - series[0][0] >= 180:
        settled = [kb for t, kb in series if t - series[0][0] >= 60]
        third = max(1, len(settled) // 3)
        early, late = max(settled[:third]), max(settled[-third:])
        memory = f'; resident memory after its first minute {early} kB, at the end {late} kB'
        if late > early + 512:
            problems.append(f'resident memory grew from {early} kB to {late} kB')

    kinds = {}
    for command in commands.values():
        kinds[command['kind']] = kinds.get(command['kind'], 0) + 1
    print(f'readings: {figures["right"]} right, {figures["errors"]} errors, '
          f'{figures["wrong"]} wrong, {figures["stale"]} stale')
    print('commands: ' + ', '.join(f'{n} {k}' for k, n in sorted(kinds.items())) +
          '; results: ' + ', '.join(f'{n} {o}' for o, n in sorted(outcomes.items())) + memory)
    for problem in problems[:40]:
        print('FAIL:', problem)
    if figures['right'] == 0:
        print('FAIL: no reading at all')
        return 1
    return 1 if problems else 0


if __name__ == '__main__':
    sys.exit(main())
