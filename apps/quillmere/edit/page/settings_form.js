// The settings' controls. Each control names its setting in data-setting,
// with the settings file's names ("border.size"); a change sends just that
// setting, and the runner's answer sets every control again.

// Controls usable only while another setting allows them, as in the
// plug-in's dialog; `style` is the chosen shadow style's entry.
const ENABLED_WHEN = {
  'border.size': (s) => s.border.on,
  'border.color': (s) => s.border.on,
  'shadow.style': (s) => s.shadow.on,
  'shadow.size': (s) => s.shadow.on,
  'shadow.percent': (s) => s.shadow.on,
  'shadow.color': (s) => s.shadow.on,
  'shadow.shift': (s, style) => s.shadow.on && Boolean(style && style.fixedShift),
  'seed': (s, style) => s.shadow.on && Boolean(style && style.random),
  'range.start': (s) => s.range.on,
  'range.end': (s) => s.range.on,
  // The filter's own stretch (nearest or bilinear) is the one it tunes.
  'bilinear': (s) => s.scaler === 'nearest' || s.scaler === 'bilinear',
  // A placement always stretches to fit.
  'fit': (s) => s.placement === undefined,
};

function valueAt(object, name) {
  return name.split('.').reduce((value, key) => (value == null ? undefined : value[key]), object);
}

// {"border": {"size": 4}} for ("border.size", 4).
function changeOf(name, value) {
  const keys = name.split('.');
  const change = {};
  let level = change;
  for (const key of keys.slice(0, -1)) {
    level[key] = {};
    level = level[key];
  }
  level[keys[keys.length - 1]] = value;
  return change;
}

export class SettingsForm {
  // onChange(change, startTime, control): a setting the user changed.
  // onInvalid(reason): a value that cannot be sent.
  constructor(root, { onChange, onInvalid }) {
    this.controls = [...root.querySelectorAll('[data-setting]')];
    this.onChange = onChange;
    this.onInvalid = onInvalid;
    this.styles = [];
    for (const control of this.controls) {
      control.addEventListener('change', () => this.changed(control));
    }
    // A button that puts a fresh random number in its setting's control,
    // sent as a change typed there would be.
    this.newValueButtons = [...root.querySelectorAll('[data-new-value]')].map((button) => {
      const control = this.controls.find((entry) => entry.dataset.setting === button.dataset.newValue);
      if (!control) {
        throw new Error(`no control for ${button.dataset.newValue}`);
      }
      button.addEventListener('click', () => {
        control.value = String(crypto.getRandomValues(new Uint32Array(1))[0]);
        this.changed(control);
      });
      return { button, control };
    });
  }

  // The controls' limits and lists, from the runner's description of its
  // settings; a control naming a setting the runner lacks is a fault here.
  fillChoices(choices) {
    this.styles = choices.shadowStyles;
    const fields = new Map(choices.fields.map((field) => [field.name, field]));
    for (const control of this.controls) {
      const name = control.dataset.setting;
      const field = fields.get(name);
      if (!field) {
        throw new Error(`the runner has no setting ${name}`);
      }
      if (field.kind === 'integer') {
        control.min = field.minimum;
        control.max = field.maximum;
      }
      if (field.kind !== 'choice') {
        continue;
      }
      control.replaceChildren();
      if (name.startsWith('placement.')) {
        control.append(new Option(`default (${choices.placementDefaults.position})`, ''));
      }
      for (const choice of field.choices) {
        const style = this.styles.find((entry) => entry.name === choice);
        const option = new Option(name === 'shadow.style' && style ? style.label : choice, choice);
        if (name === 'shadow.style' && style) {
          option.title = style.summary;
        }
        control.append(option);
      }
    }
    for (const control of this.controls) {
      const name = control.dataset.setting;
      if (name === 'placement.margin' || name === 'placement.size') {
        // The default, rounded for the eye (33.333...% shows as 33.33%).
        const exact = choices.placementDefaults[name.slice('placement.'.length)];
        control.placeholder = `${Number(parseFloat(exact).toFixed(2))}%`;
      }
    }
  }

  // The control's value as the settings file spells it, or undefined when
  // the text typed is no value at all.
  read(control) {
    const name = control.dataset.setting;
    if (control.type === 'checkbox') {
      return control.checked;
    }
    if (control.type === 'number') {
      const number = Number(control.value);
      return control.value.trim() !== '' && Number.isInteger(number) ? number : undefined;
    }
    if (control.dataset.empty === 'null') {
      // Empty: back to the default, or none.
      return control.value.trim() === '' ? null : control.value.trim();
    }
    return control.value;
  }

  changed(control) {
    const startTime = performance.now();
    const value = this.read(control);
    if (value === undefined) {
      this.onInvalid(`${control.dataset.setting} needs a whole number`);
      this.show(this.state, control);
      return;
    }
    this.onChange(changeOf(control.dataset.setting, value), startTime, control);
  }

  // Every control from the runner's settings, but for a field the user is
  // typing in (other than `source`, the one whose change this answers).
  show(state, source = null) {
    this.state = state;
    const settings = state.settings;
    const placed = settings.placement !== undefined;
    const style = this.styles.find((entry) => entry.name === settings.shadow.style);
    for (const control of this.controls) {
      const name = control.dataset.setting;
      let value = valueAt(settings, name);
      if (name.startsWith('placement.')) {
        value = placed && value !== undefined ? value : '';
      }
      if (control.type === 'checkbox') {
        control.checked = Boolean(value);
      } else if (control.tagName === 'SELECT' || control !== document.activeElement ||
                 control === source) {
        control.value = value ?? '';
      }
      const rule = ENABLED_WHEN[name];
      control.disabled = rule ? !rule(settings, style) : false;
    }
    for (const { button, control } of this.newValueButtons) {
      button.disabled = control.disabled;
    }
  }
}
