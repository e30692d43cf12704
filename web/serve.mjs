// Serves a folder on 127.0.0.1 for trying the page locally:
//   node web/serve.mjs build/web [port]
// The page needs http: browsers start no workers and fetch no modules from file://.
import http from 'node:http';
import fs from 'node:fs/promises';
import path from 'node:path';
import { pathToFileURL } from 'node:url';

const TYPES = {
  '.html': 'text/html; charset=utf-8',
  '.js': 'text/javascript; charset=utf-8',
  '.css': 'text/css; charset=utf-8',
  '.wasm': 'application/wasm',
  '.svg': 'image/svg+xml',
};

/// Starts serving `root`; resolves to the server once it listens (port 0: any free port).
export function serve(root, port = 0) {
  const base = path.resolve(root);
  const server = http.createServer(async (request, response) => {
    const pathname = decodeURIComponent(new URL(request.url, 'http://localhost').pathname);
    const file = path.join(base, pathname.endsWith('/') ? `${pathname}index.html` : pathname);
    if (!file.startsWith(base + path.sep)) {
      response.writeHead(403).end();
      return;
    }
    try {
      const body = await fs.readFile(file);
      response.writeHead(200, { 'Content-Type': TYPES[path.extname(file)] ?? 'application/octet-stream' });
      response.end(body);
    } catch {
      response.writeHead(404).end();
    }
  });
  return new Promise((resolve) => server.listen(port, '127.0.0.1', () => resolve(server)));
}

if (import.meta.url === pathToFileURL(process.argv[1]).href) {
  const [root = 'build/web', port = '8048'] = process.argv.slice(2);
  const server = await serve(root, Number(port));
  console.log(`Serving ${root} at http://127.0.0.1:${server.address().port}/ (Ctrl+C stops it)`);
}
