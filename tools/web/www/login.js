// Login page: posts the credentials, then goes where the operator was headed (our own
// paths only).
const form = document.getElementById('login');
const error = document.getElementById('login-error');
const submit = document.getElementById('login-submit');

function target() {
  const next = new URLSearchParams(location.search).get('next') || '/';
  // Our own page paths only: '/' or segments of [a-z0-9] (never '//', which would name another host).
  return /^\/([a-z0-9]+(\/[a-z0-9]+)*)?$/.test(next) ? next : '/';
}

form.addEventListener('submit', async (event) => {
  event.preventDefault();
  error.hidden = true;
  submit.disabled = true;
  try {
    const res = await fetch('/api/login', {
      method: 'POST',
      headers: {'Content-Type': 'application/json'},
      body: JSON.stringify({user: form.user.value, password: form.password.value}),
    });
    if (res.ok) {
      location.replace(target());
      return;
    }
    const body = await res.json().catch(() => ({}));
    error.textContent = body.error || `Login failed (${res.status})`;
    error.hidden = false;
    form.password.value = '';
    form.password.focus();
  } catch (e) {
    error.textContent = 'The card does not answer. Check the connection and try again.';
    error.hidden = false;
  } finally {
    submit.disabled = false;
  }
});
